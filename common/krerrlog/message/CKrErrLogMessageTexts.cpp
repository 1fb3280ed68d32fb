// Message texts after the prolog: component texts with their arguments,
// audit and free trace texts, and translated texts through message bundles.
#include <krerrlog/message/CKrErrLogMessage.h>

#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/message/internal/KrMessageBuffer.h>
#include <krerrlog/support/internal/KrEnvironment.h>
#include <krerrlog/support/internal/KrMemoryPolicy.h>
#include <krerrlog/support/internal/KrSafeFormat.h>
#include <krerrlog/support/KrXlate.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr int kTextSize = 4096;

// Fallback keys and texts of translated messages.
constexpr const char* kBuiltInKey = "kr-log-00000";
constexpr const char* kBuiltInText = "{0}";
constexpr const char* kNoComponentKey = "kr-log-00001";
constexpr const char* kNoComponentText = "missing component library";
constexpr const char* kNoKeyKey = "kr-log-00002";
constexpr const char* kNoKeyText = "missing message key";

unsigned int SeverityOf(unsigned int id) { return (id & KR_SEVERITY_MASK) >> KR_SEVERITY_SHIFT; }

// The severity word of a log line.
const char* LineSeverityWord(unsigned int severity)
{
    switch (severity) {
    case KR_SEVERITY_INFO:
        return "INFO";
    case KR_SEVERITY_WARNING:
        return "WARNING";
    case KR_SEVERITY_ERROR:
        return "ERROR";
    default:
        return "INVALID MESSAGE TYPE";
    }
}

// The component's text (format or key) of id in the process-wide logger's
// catalogue; null when the logger is not initialised or has no such text.
const char* ComponentText(unsigned int id)
{
    CKrLogger* logger = theLogger();
    return logger ? logger->FetchMsg(id) : nullptr;
}

void AppendSeverityPrefix(krerrlog::MessageBuffer& buffer, unsigned int id)
{
    buffer.AppendChar('[');
    buffer.AppendString(LineSeverityWord(SeverityOf(id)));
    buffer.AppendBytes("] ", 2);
}

// safe_snprintf_impl with a missing argument array read as no arguments.
int SafeFormat(char* out, unsigned long size, const char* format, int count, const char** texts)
{
    return safe_snprintf_impl(out, size, format, texts ? count : 0, texts);
}

// Characters a bounded format left in its buffer of size bytes.
int FormattedLength(int result, int size) { return result <= 0 ? 0 : (result < size ? result : size - 1); }

// "[" severity word "] " text "\n" for a component text, the text filled by
// fill(out, format) into kTextSize bytes. False, nothing appended, without a text.
template <typename Fill>
bool AppendComponentLine(krerrlog::MessageBuffer& buffer, unsigned int msgId, Fill fill)
{
    const char* text = ComponentText(msgId);
    if (!text) return false;
    AppendSeverityPrefix(buffer, msgId);
    if (*text) {
        char formatted[kTextSize];
        formatted[0] = '\0';
        buffer.AppendBytes(formatted, FormattedLength(fill(formatted, text), kTextSize));
    }
    buffer.AppendChar('\n');
    return true;
}

}  // namespace

// ---- Component texts ----

bool CKrErrLogMessage::FormatLogMessageVA(int id, int count, const char** texts)
{
    return AppendComponentLine(*m_pBuffer, static_cast<unsigned int>(id), [&](char* out, const char* text) {
        return SafeFormat(out, kTextSize, text, count, texts);
    });
}

bool CKrErrLogMessage::FormatLogMessage(int id, char** args, int count)
{
    const unsigned int msgId = static_cast<unsigned int>(id);
    const char* text = ComponentText(msgId);
    if (!text) return false;
    std::string filled;
    const bool made = krerrlog::NoThrowDone([&] {
        filled = text;
        if (args && count >= 1) {
            // The search goes on from where the argument just inserted begins,
            // so a "%s" inside an argument is taken by the next argument.
            std::string::size_type position = 0;
            for (int i = 0; i < count; ++i) {
                const std::string::size_type at = filled.find("%s", position);
                if (at == std::string::npos) break;
                filled.replace(at, 2, args[i] ? args[i] : "(null)");
                position = at;
            }
        }
    });
    if (!made) return false;
    AppendSeverityPrefix(*m_pBuffer, msgId);
    m_pBuffer->AppendBytes(filled.data(), static_cast<int>(filled.size()));
    m_pBuffer->AppendChar('\n');
    return true;
}

bool CKrErrLogMessage::FormatLogMessageVA(int id, va_list list)
{
    // The catalogue's own format with the caller's typed arguments.
    return AppendComponentLine(*m_pBuffer, static_cast<unsigned int>(id), [&](char* out, const char* text) {
        return std::vsnprintf(out, kTextSize, text, list);
    });
}

// ---- Audit and free trace texts ----

bool CKrErrLogMessage::FormatAuditMessageVA(const char* format, int count, const char** texts)
{
    if (!format || !*format) return false;
    char formatted[kTextSize];
    formatted[0] = '\0';
    const int result = SafeFormat(formatted, sizeof formatted, format, count, texts);
    if (result >= kTextSize) {
        // An audit text is never cut: format it again at its full length
        // (also when it is exactly 4096 characters, which did not fit).
        const unsigned long size = static_cast<unsigned long>(result) + 1;
        char* whole = new (std::nothrow) char[size];
        if (!whole) return false;
        whole[0] = '\0';
        const int again = SafeFormat(whole, size, format, count, texts);
        m_pBuffer->AppendBytes(whole, again < 0 ? 0 : (again < result ? again : result));
        delete[] whole;
        return true;
    }
    m_pBuffer->AppendBytes(formatted, FormattedLength(result, kTextSize));
    return true;
}

const char* CKrErrLogMessage::FormatTraceMessageVA(const char* format, int count, const char** texts)
{
    if (!format) return nullptr;
    char* formatted = new (std::nothrow) char[kTextSize];
    if (!formatted) return nullptr;
    formatted[0] = '\0';
    SafeFormat(formatted, kTextSize, format, count, texts);
    return formatted;
}

void CKrErrLogMessage::FreeFormattedMessage(const char* message) { delete[] message; }

void CKrErrLogMessage::SetFormattedMessage(const char* text)
{
    if (text) m_pBuffer->AppendString(text);
}

// ---- Translated texts ----

const char* CKrErrLogMessage::PreformatMessage(unsigned int id, const char* locale, char* out, size_t outSize)
{
    if (id != 0) {
        m_iMessageId = id;
        m_iSeverity = static_cast<int>(SeverityOf(id));
    }
    const char* key = nullptr;
    const char* text = nullptr;
    CKrXlate* bundle = nullptr;
    if ((m_iMessageId >> 24) == 1) {
        key = kBuiltInKey;
        text = kBuiltInText;
    } else {
        CKrLogger* logger = theLogger();
        // Null as well for an uninitialised logger and for ids without a slot.
        const char* bundleName = logger ? logger->GetMsgBundle(m_iMessageId) : nullptr;
        const char* componentKey = nullptr;
        if (!bundleName) {
            key = kNoComponentKey;
            text = kNoComponentText;
        } else if (!(componentKey = logger->FetchMsg(m_iMessageId))) {
            key = kNoKeyKey;
            text = kNoKeyText;
        } else {
            key = componentKey;
            bundle = CKrXlate::GetBundle(bundleName, locale ? locale : "en");
            const char* translated = bundle ? bundle->GetText(componentKey) : nullptr;
            text = translated ? translated : componentKey;
        }
    }

    if (out && outSize > 0) {
        out[0] = '\0';
        if (m_iArgumentCount != 0) {
            const char* arguments[kMaxHeldArguments];
            const char* next = m_packedArguments.data();
            const size_t count = static_cast<size_t>(m_iArgumentCount);
            for (size_t i = 0; i < count; ++i) {
                arguments[i] = next;
                next += std::strlen(next) + 1;
            }
            CKrXlate::FormatMessageA(out, static_cast<unsigned long>(outSize - 1), text, count, arguments);
        } else {
            size_t length = std::strlen(text);
            if (length > outSize - 1) length = outSize - 1;
            std::memcpy(out, text, length);
            out[length] = '\0';
        }
    }
    if (bundle) bundle->Release();
    return key;
}

const char* CKrErrLogMessage::FormatMessageA(unsigned int id)
{
    // The line needs its prolog first.
    if (m_pBuffer->Length() == 0 || !m_pTextBuffer) return nullptr;
    m_pTextBuffer[0] = '\0';
    const char* key = PreformatMessage(id, KrGetAdminLocale(), m_pTextBuffer, kTextSize);
    m_pBuffer->AppendChar('[');
    m_pBuffer->AppendString(LineSeverityWord(static_cast<unsigned int>(m_iSeverity)));
    m_pBuffer->AppendBytes("][", 2);
    m_pBuffer->AppendString(key);
    m_pBuffer->AppendBytes("] ", 2);
    m_pBuffer->AppendString(m_pTextBuffer);
    m_pBuffer->AppendChar('\n');
    return m_pBuffer->Terminated();
}

const char* CKrErrLogMessage::FormatMessageForTrace(unsigned int id)
{
    if (!m_pTextBuffer) return nullptr;
    m_pTextBuffer[0] = '\0';
    const char* key = PreformatMessage(id, "en", m_pTextBuffer, kTextSize);
    m_pBuffer->Reset();
    m_pBuffer->AppendChar('[');
    m_pBuffer->AppendString(key);
    m_pBuffer->AppendBytes("] ", 2);
    m_pBuffer->AppendString(m_pTextBuffer);
    return m_pBuffer->Terminated();
}

void CKrErrLogMessage::ClearArguments()
{
    // Keeps the string's storage, so a reused message allocates nothing.
    m_iArgumentCount = 0;
    m_packedArguments.clear();
}

void CKrErrLogMessage::AddArgument() { AddArgument(""); }

void CKrErrLogMessage::AddArgument(const char* text)
{
    if (m_iArgumentCount >= static_cast<uint64_t>(kMaxHeldArguments)) return;
    const std::string::size_type held = m_packedArguments.size();
    if (!krerrlog::NoThrowDone([&] {
            m_packedArguments.append(text ? text : "<null>");
            m_packedArguments.push_back('\0');
        })) {
        m_packedArguments.resize(held);  // shrinking allocates nothing
        return;
    }
    ++m_iArgumentCount;
}
