// The per-call tracing facade, trace suppression per thread and the host's
// request context per thread.
#include <krerrlog/trace/KrTracing.h>

#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/logger/internal/KrTracesAvailable.h>
#include <krerrlog/support/internal/KrThreadKey.h>
#include <krerrlog/support/platform/KrSavedErrorCodes.h>
#include <krerrlog/trace/CKrTraceData.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned int kFieldCount = static_cast<unsigned int>(KR_KNOWN_DATA_FIELD_COUNT);
constexpr int kClockNow = -1;
void* const kSuppressed = reinterpret_cast<void*>(static_cast<intptr_t>(1717));

// The two process-wide thread slots, made on first use.
unsigned long SuppressionKey()
{
    static const unsigned long key = krerrlog::ThreadKeyAlloc();
    return key;
}

unsigned long RequestContextKey()
{
    static const unsigned long key = krerrlog::ThreadKeyAlloc();
    return key;
}

void* SlotValue(unsigned long key)
{
    krerrlog::SavedErrorCodes keepErrors;
    return krerrlog::ThreadKeyGet(key);
}

void SetSlotValue(unsigned long key, void* value)
{
    krerrlog::SavedErrorCodes keepErrors;
    krerrlog::ThreadKeySet(key, value);
}

// The part of path after its last '/', or else after its last '\'.
const char* BaseName(const char* path)
{
    if (!path) return "";
    const char* slash = std::strrchr(path, '/');
    if (!slash) slash = std::strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

}  // namespace

// ---- Begin ----

// Asks the flags themselves, as TraceEnabled(0) and InMemoryTraceEnabled(0)
// answer: no call on the path of a call that traces nothing.
inline bool KrTracing::Begin(CKrLogger* logger)
{
    m_pLogger = logger;
    m_pTraceData = nullptr;
    m_pInMemTraceData = nullptr;
    m_bFiltered = m_bTraced = m_bInMemTraced = false;
    m_bEnabled = logger && logger->TraceAvailableNow();
    m_bInMemEnabled = logger && logger->InMemoryTraceAvailableNow();
    return m_bEnabled || m_bInMemEnabled;
}

bool KrTracing::BeginEx()
{
    // The records the thread holds are looked up by AddComp's allocating
    // decision, which hands out the held record (refreshed) or takes one only
    // for a traced component: the same outcome as taking them here, without
    // two thread-key reads on the path of a call that is not traced.
    // With no trace available in any logger, theLogger()'s is not either.
    return Begin(krerrlog::AnyTraceAvailable() ? theLogger() : nullptr);
}

bool KrTracing::BeginExWobj(CKrTraceData& record)
{
    CKrLogger* logger = record.GetLogger();
    if (!Begin(logger)) return false;
    // One record carries one kind's configuration: the caller's record serves
    // the file trace when that is on; the in-memory trace then uses the
    // thread's own record of the same logger (taken at AddComp if needed).
    if (m_bEnabled) {
        m_pTraceData = &record;
        if (m_bInMemEnabled) m_pInMemTraceData = logger->GetLocalInMemoryKrTraceData();
    } else {
        m_pInMemTraceData = &record;
    }
    return true;
}

bool KrTracing::TraceLogBegin()
{
    CKrLogger* logger = theLogger();
    if (!Begin(logger)) return false;
    if (!logger->FieldTraced(KR_FIELD_MESSAGE) && !logger->FieldTracedInMemory(KR_FIELD_MESSAGE)) return false;
    if (m_bEnabled) m_bTraced = logger->TraceAlloc(&m_pTraceData);
    if (m_bInMemEnabled) m_bInMemTraced = logger->InMemoryTraceAlloc(&m_pInMemTraceData);
    return m_bTraced || m_bInMemTraced;
}

// ---- The component ----

void KrTracing::AddComp(unsigned int componentId)
{
    if (m_bEnabled && !m_bTraced) {
        m_bTraced = m_pTraceData ? m_pLogger->ShouldTrace(componentId, m_pTraceData)
                                 : m_pLogger->ShouldTraceAlloc(componentId, &m_pTraceData);
    }
    if (m_bInMemEnabled && !m_bInMemTraced) {
        m_bInMemTraced = m_pInMemTraceData ? m_pLogger->ShouldInMemoryTrace(componentId, m_pInMemTraceData)
                                           : m_pLogger->ShouldInMemoryTraceAlloc(componentId, &m_pInMemTraceData);
    }
}

bool KrTracing::LastComp(unsigned int componentId, const char* function)
{
    AddComp(componentId);
    if (!m_bTraced && !m_bInMemTraced) return false;
    if (!CKrTraceSupresser::isTracing()) return false;
    SetData(KR_FIELD_FUNCTION, function);
    return true;
}

// ---- Values ----

// The file record gets the value while the call is live there, with its
// filter tested; the in-memory record gets it without any test. A field a
// record does not trace is not touched in it.
template <typename Value>
void KrTracing::Store(unsigned int id, Value value)
{
    if (id >= kFieldCount) return;  // never stored, never drops the call
    if (m_bTraced && !m_bFiltered && m_pTraceData && m_pTraceData->m_fields[id].traced) {
        if (!m_pTraceData->SetFieldValue(id, value, true)) m_bFiltered = true;
    }
    if (m_bInMemTraced && m_pInMemTraceData && m_pInMemTraceData->m_fields[id].traced) {
        m_pInMemTraceData->SetFieldValue(id, value, false);
    }
}

void KrTracing::SetData(unsigned int id, int value) { Store(id, value); }
void KrTracing::SetData(unsigned int id, long value) { Store(id, value); }
void KrTracing::SetData(unsigned int id, long long value) { Store(id, value); }
void KrTracing::SetData(unsigned int id, unsigned int value) { Store(id, value); }
void KrTracing::SetData(unsigned int id, unsigned long value) { Store(id, value); }
void KrTracing::SetData(unsigned int id, unsigned long long value) { Store(id, value); }
void KrTracing::SetData(unsigned int id, bool value) { Store(id, value); }
void KrTracing::SetData(unsigned int id, const char* value) { Store(id, value); }

void KrTracing::SetMsgVA(const char* format, int count, const char** texts)
{
    if (NeedTracing()) {
        m_pTraceData->SelectFormatBuffer(0);
        Store(KR_FIELD_MESSAGE, m_pTraceData->FormatTraceMessageVA(format, count, texts));
    }
    if (InMemoryNeedTracing()) {
        m_pInMemTraceData->SelectFormatBuffer(0);
        Store(KR_FIELD_MESSAGE, m_pInMemTraceData->FormatTraceMessageVA(format, count, texts));
    }
}

// ---- The end of the call ----

// The test of a call no trace wants is made here too, before Finish saves
// any register.
void KrTracing::Done(const char* file, int line)
{
    if (m_bTraced || m_bInMemTraced) Finish(file, line, false);
}
void KrTracing::DoneEx(const char* file, int line)
{
    if (m_bTraced || m_bInMemTraced) Finish(file, line, true);
}

void KrTracing::Finish(const char* file, int line, bool extended)
{
    // A call no trace wants has stored nothing: there is nothing to fill,
    // write or clear.
    if (!m_bTraced && !m_bInMemTraced) return;
    // The clock: only the traced field that drives it reads it.
    Store(KR_FIELD_PRECISETIME, kClockNow);
    Store(KR_FIELD_TIME, kClockNow);
    Store(KR_FIELD_DATE, kClockNow);

    // The source position ("name:line", or the name alone), laid out only
    // for a record that traces it, in the record's position buffer.
    CKrTraceData* const positionRecords[] = {
        NeedTracing() && m_pTraceData->m_fields[KR_FIELD_SRCFILE].traced ? m_pTraceData : nullptr,
        InMemoryNeedTracing() && m_pInMemTraceData->m_fields[KR_FIELD_SRCFILE].traced ? m_pInMemTraceData : nullptr};
    if (positionRecords[0] || positionRecords[1]) {
        const char* base = BaseName(file);
        const bool withLine = !extended || line >= 1;
        const __ToString__ lineText(line);
        const size_t baseLength = std::strlen(base);
        const size_t lineLength = withLine ? std::strlen(lineText.c_str()) : 0;
        const size_t length = baseLength + (withLine ? 1 + lineLength : 0);
        for (CKrTraceData* record : positionRecords) {
            if (!record) continue;
            record->SelectFormatBuffer(1);
            if (length < static_cast<size_t>(CKrTraceData::kFormatBufferSize)) {
                // What "%s:%i" or "%s" gives, written directly.
                char* text = record->m_formatBuffers[1];
                std::memcpy(text, base, baseLength);
                if (withLine) {
                    text[baseLength] = ':';
                    std::memcpy(text + baseLength + 1, lineText.c_str(), lineLength);
                }
                text[length] = '\0';
                Store(KR_FIELD_SRCFILE, static_cast<const char*>(text));
            } else {
                // Too long for the buffer: the formatter makes it a long text.
                const char* positionTexts[] = {base, lineText.c_str()};
                Store(KR_FIELD_SRCFILE, record->FormatTraceMessageVA(withLine ? "%s:%i" : "%s", withLine ? 2 : 1,
                                                                     positionTexts));
            }
        }
    }
    Store(KR_FIELD_PID, 0);  // the signed form stores the ids itself
    Store(KR_FIELD_TID, 0);

    const bool fileLive = m_bTraced && !m_bFiltered && m_pTraceData;
    const bool tagTraced = (fileLive && m_pTraceData->m_fields[KR_FIELD_TAG].traced) ||
                           (InMemoryNeedTracing() && m_pInMemTraceData->m_fields[KR_FIELD_TAG].traced);
    if (tagTraced) {
        const char* tag = "AGENTTRACELOG";
        if (fileLive) {
            const char* packaging = std::getenv("HALV_PS_OPACK");  // read on every traced call
            if (packaging && std::strcmp(packaging, "INSTALLED") == 0) {
                tag = m_pTraceData->m_pszTagName;
            } else {
                CKrLogger* logger = m_pTraceData->GetLogger();
                if (logger && logger->IsTagEnabled()) tag = "ZDLTRACELOG";
            }
        }
        Store(KR_FIELD_TAG, tag);
    }

    if (fileLive && m_pTraceData->AssembleTraceMessage(m_pTraceData->m_message, 0)) m_pTraceData->Log();
    if (InMemoryNeedTracing()) {
        CKrTraceData& record = *m_pInMemTraceData;
        if (extended) {
            record.AssembleTraceMessage(record.m_message, 0);
        } else {
            record.AssembleInMemoryTraceMessage(record.m_message, 0);
        }
        record.LogInMemory();
    }

    if (m_pTraceData) m_pTraceData->CleanUpData();
    if (m_pInMemTraceData) {
        if (extended) {
            m_pInMemTraceData->CleanUpData();
        } else {
            m_pInMemTraceData->InMemoryCleanUpData();
        }
    }
}

// ---- Suppression and request context ----

CKrTraceSupresser::CKrTraceSupresser() { setTracing(false); }
CKrTraceSupresser::~CKrTraceSupresser() { setTracing(true); }
bool CKrTraceSupresser::isTracing() { return SlotValue(SuppressionKey()) != kSuppressed; }
void CKrTraceSupresser::setTracing(bool on) { SetSlotValue(SuppressionKey(), on ? nullptr : kSuppressed); }

void* CKrRequestContext::GetRequestContextData() { return SlotValue(RequestContextKey()); }
void CKrRequestContext::SetRequestContextData(void* data) { SetSlotValue(RequestContextKey(), data); }
