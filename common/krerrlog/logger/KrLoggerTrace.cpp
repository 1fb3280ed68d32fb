// Trace routing: switching the trace and the in-memory trace on and off,
// installing their configurations and header lines, and handing trace lines
// to the trace outputs.
//
// A trace line is logged under the reader side of m_traceGuard, or of
// m_bufferedTraceGuard while buffered tracing is on; the flag is read without
// a lock. Switching the trace on or off takes both for writing (buffered trace
// first, their order among the logger's guards), so a thread that read the old
// flag and holds the old guard has finished before an output is closed, and
// one still waiting for it finds the new output.
#include <krerrlog/logger/CKrLogger.h>

#include <krerrlog/logger/internal/KrNestedLogGuard.h>
#include <krerrlog/support/internal/KrMemoryPolicy.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/CKrFileOutput.h>
#include <krerrlog/output/CKrInMemoryOutput.h>
#include <krerrlog/trace/CKrTraceData.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr int kFileOutputType = 1;
constexpr int kFixedWidth = 1;
constexpr int kDelimited = 2;
constexpr int kHeaderLine = 1;

void CloseAndDelete(CKrLogOutput*& slot)
{
    if (!slot) return;
    slot->Close();
    delete slot;
    slot = nullptr;
}

// Versions only grow: a dropped configuration's number is kept unless a
// larger one already is (other loggers share the counter).
void KeepDroppedVersion(int version)
{
    std::atomic_ref<int> last(CKrLogger::m_iConfigVersion);
    int seen = last.load(std::memory_order_relaxed);
    while (seen < version && !last.compare_exchange_weak(seen, version, std::memory_order_relaxed)) {
    }
}

int LastDroppedVersion() { return std::atomic_ref<int>(CKrLogger::m_iConfigVersion).load(std::memory_order_relaxed); }

// Holds both trace guards for writing.
class KRERRLOG_SCOPED_CAPABILITY TraceWriteHold {
public:
    TraceWriteHold(CKrReadWriteGuard& bufferedGuard, CKrErrLogGuard& guard) KRERRLOG_ACQUIRE(bufferedGuard, guard)
        : m_buffered(bufferedGuard), m_guard(guard)
    {
        m_buffered.LockForWrite();
        m_guard.LockForWrite();
    }
    ~TraceWriteHold() KRERRLOG_RELEASE()
    {
        m_guard.Unlock();
        m_buffered.Unlock();
    }
    TraceWriteHold(const TraceWriteHold&) = delete;
    TraceWriteHold& operator=(const TraceWriteHold&) = delete;

private:
    CKrReadWriteGuard& m_buffered;
    CKrErrLogGuard& m_guard;
};

}  // namespace

// Whether the calling thread is inside either trace guard's reader side.
bool CKrLogger::ThreadReadsUnderTrace() const
{
    return krerrlog::NestedReadRecord::ThreadReadsUnder(&m_bufferedTraceGuard) ||
           krerrlog::NestedReadRecord::ThreadReadsUnder(&m_traceGuard);
}

// A named logger's masters name it, so the records refreshed from them log to
// it; the process-wide logger's masters name none (a record without a logger
// logs to the process-wide one).
CKrTraceData* CKrLogger::NewMaster()
{
    auto* master = new (std::nothrow) CKrTraceData;
    if (!master) return nullptr;
    if (this != theLogger()) master->SetLogger(this);
    return master;
}

// ---- The trace ----

bool CKrLogger::EnableTrace(CKrLogOutput* out, int traceFormat, const char* delimiter, const char* traceConfigFile,
                            bool useLocalTime, bool keepConfig, bool buffered)
{
    return EnableTrace(out, nullptr, traceFormat, delimiter, traceConfigFile, useLocalTime, keepConfig, buffered);
}

bool CKrLogger::EnableTrace(CKrLogOutput* out, CKrLogOutput* secondOut, int traceFormat, const char* delimiter,
                            const char* traceConfigFile, bool useLocalTime, bool keepConfig, bool buffered)
{
    // From inside a trace output (a callback) the write hold would wait for itself.
    if (!out || ThreadReadsUnderTrace()) return false;
    out->EnableBuffering(false);
    if (secondOut && out->IsAsync()) return false;  // a second output needs a synchronous primary

    auto* config = NewMaster();
    if (!config) return false;
    m_bBufferedTracing.store(buffered, std::memory_order_relaxed);
    if (!config->SetConfiguration(traceFormat, delimiter, traceConfigFile, m_iComponentInfoCount, m_pComponentInfo,
                                  m_pDataFieldInfo, useLocalTime)) {
        delete config;
        return false;
    }

    // The header lines: the field names, and a line of '=' runs under them.
    CKrErrLogMessage first(false);
    CKrErrLogMessage second(false);
    const bool withHeaders = config->AssembleTraceMessage(first, kHeaderLine);
    const auto underline = [&] {
        const char* underlineDelimiter = traceFormat == kDelimited ? delimiter : nullptr;
        if (traceFormat <= kDelimited) {
            second.BeginTraceFormat(traceFormat, useLocalTime, underlineDelimiter);
            std::string run;
            for (int entry : config->m_fieldOrder) {
                if (entry <= 0 || entry > KR_KNOWN_DATA_FIELD_COUNT) break;
                const KrTraceDataFieldInfo& field = config->m_fields[entry - 1];
                if (traceFormat == kFixedWidth) {
                    run.assign(static_cast<size_t>(field.width > 0 ? field.width : 0), '=');
                    second.FormatTraceField(run.c_str(), field.width);
                } else {
                    run.assign(field.name ? std::strlen(field.name) : 0, '=');
                    second.FormatTraceField(run.c_str(), underlineDelimiter, 0);
                }
            }
        }
        second.EndTraceFormat();
    };
    // Memory ran out when a header line is cut short (it ends without its
    // newline): a trace whose columns cannot be read is not switched on.
    const auto whole = [](CKrErrLogMessage& line) {
        const int length = line.GetBufferLen();
        return length > 0 && line.GetBuffer()[length - 1] == '\n';
    };
    if (withHeaders && !(krerrlog::NoThrowDone(underline) && whole(first) && whole(second))) {
        delete config;
        return false;
    }

    TraceWriteHold hold(m_bufferedTraceGuard, m_traceGuard);
    // The header lines go to the new outputs under this hold.
    krerrlog::NotedWriteHold noted(buffered ? static_cast<const void*>(&m_bufferedTraceGuard) : &m_traceGuard);
    // With nothing installed there is no configuration to keep: the new one
    // is installed as if keepConfig were false.
    if (!m_pTraceConfig) keepConfig = false;
    int version = LastDroppedVersion();
    if (m_pTraceConfig && !keepConfig) {
        version = m_pTraceConfig->m_iVersion;
        KeepDroppedVersion(version);  // reaches the counter even if Open fails below
        delete m_pTraceConfig;
        m_pTraceConfig = nullptr;
    }
    CloseAndDelete(m_pTraceOutput);
    if (!keepConfig) CloseAndDelete(m_pSecondTraceOutput);
    PublishTraceAvailability();

    if (!out->Open()) {
        delete config;
        return false;
    }
    out->EnableBuffering(buffered);
    if (secondOut && !secondOut->Open()) {
        out->Close();
        delete config;
        return false;
    }

    m_pTraceOutput = out;
    if (!keepConfig) {
        m_pSecondTraceOutput = secondOut;
        config->m_iVersion = version + 1;
        m_pTraceConfig = config;
        ClearVerdicts(m_traceVerdicts);
        m_bUseLocalTime = useLocalTime;
    } else {
        // The installed configuration and secondary output stay; a second
        // output given anyway was opened and is closed again, still the caller's.
        if (secondOut) secondOut->Close();
        delete config;
    }
    m_pTraceConfig->SetDateTimeFieldFromConfiguration();

    if (withHeaders) {
        m_pTraceOutput->SetHeaders(first, second);
        m_pTraceOutput->Log(first);
        m_pTraceOutput->Log(second);
        if (!keepConfig && m_pSecondTraceOutput) {
            m_pSecondTraceOutput->Log(first);
            m_pSecondTraceOutput->Log(second);
        }
    }
    PublishTraceAvailability();
    return true;
}

void CKrLogger::DisableTrace(bool keepConfig)
{
    if (ThreadReadsUnderTrace()) return;  // from inside a trace output: it would wait for itself
    TraceWriteHold hold(m_bufferedTraceGuard, m_traceGuard);
    DisableTraceLocked(keepConfig);
}

void CKrLogger::DropTraceConfigLocked()
{
    if (!m_pTraceConfig) return;
    KeepDroppedVersion(m_pTraceConfig->m_iVersion);
    delete m_pTraceConfig;
    m_pTraceConfig = nullptr;
}

void CKrLogger::DisableTraceLocked(bool keepConfig)
{
    if (!keepConfig) DropTraceConfigLocked();
    // The file output stops its buffered writing first.
    if (m_pTraceOutput && m_pTraceOutput->GetType() == kFileOutputType) {
        m_pTraceOutput->DeleteRingBuffer();
    } else if (m_pSecondTraceOutput && m_pSecondTraceOutput->GetType() == kFileOutputType) {
        m_pSecondTraceOutput->DeleteRingBuffer();
    }
    if (m_pTraceOutput) {
        m_pTraceOutput->EnableBuffering(false);
        CloseAndDelete(m_pTraceOutput);
    }
    if (!keepConfig) CloseAndDelete(m_pSecondTraceOutput);
    PublishTraceAvailability();
}

CKrLogOutput* CKrLogger::GetTraceOutput(int type)
{
    auto typeOf = [](CKrLogOutput* output) { return output ? output->GetType() : -1; };
    if (typeOf(m_pTraceOutput) == type) return m_pTraceOutput;
    if (typeOf(m_pSecondTraceOutput) == type) return m_pSecondTraceOutput;
    return nullptr;
}

bool CKrLogger::LogTraceMsg(CKrErrLogMessage& message)
{
    if (!m_bInited) return false;
    if (GetBufferedTracing()) {
        LogTraceMsgBuffTracingON(message);
    } else {
        LogTraceMsgBuffTracingOFF(message);
    }
    return true;
}

namespace {

bool LogToTraceOutputs(CKrLogOutput* primary, CKrLogOutput* secondary, CKrErrLogMessage& message)
{
    bool logged = primary || secondary;
    if (primary && !primary->Log(message)) logged = false;
    if (secondary && !secondary->Log(message)) logged = false;
    return logged;
}

}  // namespace

// A line traced from inside a trace output (a callback that traces) reads
// under the hold its caller already has; see KrNestedLogGuard.h.
// Unchecked: reads the trace slots under the buffered guard, which the
// analysis does not know guards them (see CKrLogger::m_pTraceOutput).
bool CKrLogger::LogTraceMsgBuffTracingON(CKrErrLogMessage& message) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
{
    krerrlog::NestedReadHold<CKrReadWriteGuard> hold(m_bufferedTraceGuard);
    if (!hold.Admitted()) return false;
    return LogToTraceOutputs(m_pTraceOutput, m_pSecondTraceOutput, message);
}

bool CKrLogger::LogTraceMsgBuffTracingOFF(CKrErrLogMessage& message)
{
    krerrlog::NestedReadHold<CKrErrLogGuard> hold(m_traceGuard);
    if (!hold.Admitted()) return false;
    return LogToTraceOutputs(m_pTraceOutput, m_pSecondTraceOutput, message);
}

// ---- The in-memory trace ----

CKrLogOutput* CKrLogger::NewLogOutput(int, int size)
{
    if (m_bInMemoryOutputCreated) return m_pInMemoryOutput;
    auto* output = new (std::nothrow) CKrInMemoryOutput;
    if (!output) return nullptr;
    if (!output->SetParams(size)) {
        delete output;
        return nullptr;
    }
    m_pInMemoryOutput = output;
    m_bInMemoryOutputCreated = true;
    return output;
}

// Unchecked: no lock, as NewLogOutput(int, int) (the output's path has its own).
bool CKrLogger::SetInMemoryTraceFilePath(const char* path) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
{
    if (!m_bInMemoryOutputCreated || !m_pInMemoryOutput) return false;
    static_cast<CKrInMemoryOutput*>(m_pInMemoryOutput)->SetInMemoryTraceFilePath(path);
    return true;
}

bool CKrLogger::EnableInMemoryTrace(CKrLogOutput* out, const char* traceConfigFile, bool replaceOutput,
                                    bool useLocalTime)
{
    // From inside the in-memory output the write hold would wait for itself.
    if (!out || krerrlog::NestedReadRecord::ThreadReadsUnder(&m_inMemoryGuard)) return false;
    auto* config = NewMaster();
    if (!config) return false;
    if (!m_pComponentInfo || !m_pDataFieldInfo ||
        !config->PrepareConfiguration(0, "", m_iComponentInfoCount, m_pComponentInfo, m_pDataFieldInfo,
                                      useLocalTime) ||
        !config->ReadConfigFile(traceConfigFile)) {
        delete config;
        return false;
    }

    // Header lines: the traced field names, each followed by '|'; then an empty line.
    CKrErrLogMessage first(false);
    CKrErrLogMessage second(false);
    for (int entry : config->m_fieldOrder) {
        if (entry <= 0 || entry > KR_KNOWN_DATA_FIELD_COUNT) break;
        first.InMemFormatTraceField(config->m_fields[entry - 1].name, 0);
    }
    first.InMemEndTraceFormat();
    second.InMemEndTraceFormat();

    CKrAutoWriter hold(&m_inMemoryGuard);
    krerrlog::NotedWriteHold noted(&m_inMemoryGuard);  // the header lines go to out under this hold
    int version = LastDroppedVersion();
    if (m_pInMemoryTraceConfig) {
        version = m_pInMemoryTraceConfig->m_iVersion;
        DropInMemoryTraceConfigLocked();
    }
    if (replaceOutput && m_pInMemoryTraceOutput && m_pInMemoryTraceOutput != out) {
        if (m_pInMemoryTraceOutput == m_pInMemoryOutput) {
            m_pInMemoryOutput = nullptr;
            m_bInMemoryOutputCreated = false;
        }
        CloseAndDelete(m_pInMemoryTraceOutput);
    }
    m_pInMemoryTraceOutput = nullptr;  // out takes its place, or nothing does
    PublishInMemoryAvailability();

    if (!out->Open()) {
        delete config;
        return false;
    }
    m_pInMemoryTraceOutput = out;
    config->m_iVersion = version + 1;
    m_pInMemoryTraceConfig = config;
    ClearVerdicts(m_inMemoryTraceVerdicts);
    m_bUseLocalTime = useLocalTime;
    config->SetDateTimeFieldFromConfiguration();
    out->SetHeaders(first, second);
    out->Log(first);
    out->Log(second);
    PublishInMemoryAvailability();
    return true;
}

void CKrLogger::DropInMemoryTraceConfigLocked()
{
    if (!m_pInMemoryTraceConfig) return;
    KeepDroppedVersion(m_pInMemoryTraceConfig->m_iVersion);
    delete m_pInMemoryTraceConfig;
    m_pInMemoryTraceConfig = nullptr;
}

bool CKrLogger::DisableInMemoryTrace()
{
    if (krerrlog::NestedReadRecord::ThreadReadsUnder(&m_inMemoryGuard)) return false;  // it would wait for itself
    CKrAutoWriter hold(&m_inMemoryGuard);
    return DisableInMemoryTraceLocked();
}

bool CKrLogger::DisableInMemoryTraceLocked()
{
    DropInMemoryTraceConfigLocked();
    bool closed = false;
    if (m_pInMemoryTraceOutput) {
        closed = m_pInMemoryTraceOutput->Close();
        delete m_pInMemoryTraceOutput;
        m_pInMemoryTraceOutput = nullptr;
        m_pInMemoryOutput = nullptr;
        m_bInMemoryOutputCreated = false;
    }
    PublishInMemoryAvailability();
    return closed;
}

bool CKrLogger::InMemoryTraceStatus()
{
    krerrlog::NestedReadHold<CKrReadWriteGuard> hold(m_inMemoryGuard);
    return hold.Admitted() && m_bInMemoryOutputCreated && m_pInMemoryTraceOutput;
}

void CKrLogger::DumpTrace()
{
    krerrlog::NestedReadHold<CKrReadWriteGuard> hold(m_inMemoryGuard);
    if (hold.Admitted() && m_pInMemoryTraceOutput) m_pInMemoryTraceOutput->DumpTrace();
}

bool CKrLogger::LogInMemoryTraceMsg(CKrErrLogMessage& message)
{
    if (!m_bInited) return false;
    krerrlog::NestedReadHold<CKrReadWriteGuard> hold(m_inMemoryGuard);
    if (!hold.Admitted()) return false;
    return m_pInMemoryTraceOutput ? m_pInMemoryTraceOutput->Log(message) : true;
}

// ---- The trace record's hand-over ----

bool CKrTraceData::Log()
{
    CKrLogger* logger = GetLogger();
    if (!logger || !logger->Inited()) return false;
    if (logger->GetBufferedTracing()) {
        logger->LogTraceMsgBuffTracingON(m_message);
    } else {
        logger->LogTraceMsgBuffTracingOFF(m_message);
    }
    return true;
}

bool CKrTraceData::LogInMemory()
{
    CKrLogger* logger = GetLogger();
    return logger && logger->LogInMemoryTraceMsg(m_message);
}

// ---- One-call start of a file trace ----

bool KrInitLogger(bool append, bool useLocalTime, int rolloverSizeMB, int traceFormat, const char* delimiter,
                  const char* traceConfigFile, const char* traceFilePath, int backupCount, char enableTag)
{
    if (!traceConfigFile || !*traceConfigFile || !traceFilePath || !*traceFilePath) return false;
    CKrLogger* logger = theLogger();
    if (!logger) return false;
    logger->UseLocalTime(useLocalTime);
    if (enableTag == 1) logger->EnableTag(true);

    constexpr int kAppend = 1, kRollOnOpen = 2, kAppendRollBySize = 3;
    const int mode = rolloverSizeMB > 0 ? kAppendRollBySize : append ? kAppend : kRollOnOpen;
    if (!append && mode == kAppendRollBySize) {
        // Roll the existing file over once, so the trace starts in a new file
        // although the real output appends.
        CKrLogOutput* roller = logger->NewLogOutput(1, traceFilePath, kRollOnOpen, rolloverSizeMB, backupCount);
        if (roller) {
            roller->Open();
            roller->Close();
            delete roller;
        }
    }
    CKrLogOutput* output = logger->NewLogOutput(1, traceFilePath, mode, rolloverSizeMB, backupCount);
    if (!output) return false;
    const char* separator = delimiter && *delimiter ? delimiter : nullptr;
    if (logger->EnableTrace(output, traceFormat, separator, traceConfigFile, useLocalTime, false, false)) return true;
    delete output;
    return false;
}
