// The message record, its buffer operations, the prolog and the static
// date, time and identity operations.
#include <krerrlog/message/CKrErrLogMessage.h>

#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/message/internal/KrDateTimeText.h>
#include <krerrlog/message/internal/KrMessageBuffer.h>
#include <krerrlog/support/internal/KrEnvironment.h>
#include <krerrlog/support/platform/KrPlatformClock.h>
#include <krerrlog/support/platform/KrPlatformThread.h>

#include <cstring>
#include <new>

namespace {

constexpr int kTextBufferSize = 4096;

// The process id text, made once per process: on first use, and again in the
// child of a fork(), which is another process with its own id.
char g_processIdText[24];

void MakeProcessIdText()
{
    const int pid = krerrlog::CurrentProcessId();
    if (pid < 0) {
        g_processIdText[0] = '-';
        number2string(static_cast<unsigned long long>(-static_cast<long long>(pid)), g_processIdText + 1);
    } else {
        number2string(static_cast<unsigned long long>(pid), g_processIdText);
    }
}

const char* ProcessIdText()
{
    static const bool made = [] {
        MakeProcessIdText();
        // The child of a fork runs this with only its one thread alive.
        krerrlog::CallInForkChild(&MakeProcessIdText);
        return true;
    }();
    (void)made;
    return g_processIdText;
}

bool ProcessLoggerUsesLocalTime()
{
    CKrLogger* logger = theLogger();
    return logger && logger->ShouldUseLocalTime();
}

}  // namespace

CKrErrLogMessage::CKrErrLogMessage() : CKrErrLogMessage(ProcessLoggerUsesLocalTime()) {}

CKrErrLogMessage::CKrErrLogMessage(bool useLocalTime)
    : m_pBuffer(new (m_bufferStorage) krerrlog::MessageBuffer),
      m_iMessageType(0),
      m_iTraceFormat(0),
      m_bUseLocalTime(useLocalTime),
      m_pTraceSeparator(nullptr),
      m_bFirstFieldPending(false),
      m_iSeverity(0),
      m_iArgumentCount(0),
      m_iMessageId(0),
      m_pTextBuffer(new (std::nothrow) char[kTextBufferSize])
{
    static_assert(sizeof(krerrlog::MessageBuffer) <= sizeof m_bufferStorage, "the buffer fits its storage");
    if (m_pTextBuffer) m_pTextBuffer[0] = '\0';
}

CKrErrLogMessage::~CKrErrLogMessage()
{
    m_pBuffer->~MessageBuffer();
    delete[] m_pTextBuffer;
}

bool CKrErrLogMessage::CleanUpMessage()
{
    m_pBuffer->Reset();
    if (m_pTextBuffer) m_pTextBuffer[0] = '\0';
    m_iMessageType = 0;
    return true;
}

const char* CKrErrLogMessage::GetBuffer() { return m_pBuffer->Terminated(); }
const char* CKrErrLogMessage::ReleaseBuffer() { return GetBuffer(); }
int CKrErrLogMessage::GetBufferLen() { return m_pBuffer->Length(); }
int CKrErrLogMessage::GetStringLen() { return m_pBuffer->Length(); }
void CKrErrLogMessage::FreeBuffer(char*) {}
void CKrErrLogMessage::SetLogName(std::string name) { m_logName = std::move(name); }

void CKrErrLogMessage::AppendDateTime()
{
    char text[krerrlog::kDateTimeWithMillisecondsLength];
    krerrlog::FormatDateTimeWithMilliseconds(krerrlog::NowEpochMilliseconds(), m_bUseLocalTime, text);
    m_pBuffer->AppendBytes(text, krerrlog::kDateTimeWithMillisecondsLength);
}

bool CKrErrLogMessage::FormatLogProlog(const char* file, int line, int messageType)
{
    m_iMessageType = messageType;
    m_pBuffer->Reset();

    char number[24];
    m_pBuffer->AppendChar('[');
    m_pBuffer->AppendString(ProcessIdText());
    m_pBuffer->AppendChar('/');
    number2string(krerrlog::CurrentThreadId(), number);
    m_pBuffer->AppendString(number);
    m_pBuffer->AppendBytes("][", 2);
    AppendDateTime();
    m_pBuffer->AppendBytes("][", 2);
    m_pBuffer->AppendString(PathnameFindFilePart(file ? file : ""));
    if (line > 0) {
        m_pBuffer->AppendChar(':');
        number2string(static_cast<unsigned long long>(line), number);
        m_pBuffer->AppendString(number);
    }
    m_pBuffer->AppendChar(']');

    CKrLogger* processLogger = theLogger();
    if (processLogger && processLogger->IsTagEnabled()) m_pBuffer->AppendBytes("[KRPSLOG]", 9);
    return true;
}

bool CKrErrLogMessage::FormatLogProlog(const char* file, int line, int messageType, std::string logName)
{
    FormatLogProlog(file, line, messageType);
    if (!logName.empty()) {
        CKrGetEnv enableTag("EnableTag");
        const char* value = enableTag.c_str();
        if (value && std::strcmp(value, "true") == 0) {
            m_pBuffer->AppendString(logName == "ZDLLogger" ? "[ZDLSERVICELOG]" : "[AGENTLOG]");
        }
    }
    return true;
}

const char* CKrErrLogMessage::GetMsgSeverity()
{
    switch (m_iSeverity) {
    case 1:
        return "INFO";
    case 2:
        return "WARN";
    case 3:
        return "ERROR";
    default:
        return "UNKNOWN";
    }
}

bool CKrErrLogMessage::GetPid(char* out, int len)
{
    if (!out || len < 10) return false;
    std::strncpy(out, ProcessIdText(), static_cast<size_t>(len));
    return true;
}

bool CKrErrLogMessage::GetTid(char* out, int len)
{
    if (!out || len < 15) return false;
    char text[24];
    number2string(krerrlog::CurrentThreadId(), text);
    std::strncpy(out, text, static_cast<size_t>(len));
    return true;
}

bool CKrErrLogMessage::GetTime(int form, char* out, bool localTime, int len)
{
    if (!out || len < 25) return false;
    const long long now = krerrlog::NowEpochMilliseconds();
    const krerrlog::CalendarTime time = krerrlog::ToCalendarTime(now, localTime);
    if (form < 0 || form > 2) {
        // 28 characters and the NUL: refused rather than cut below 29 bytes.
        if (len < krerrlog::kDateTimeWithMillisecondsLength + 1) return false;
        krerrlog::FormatDateTimeWithMilliseconds(now, localTime, out);
        out[krerrlog::kDateTimeWithMillisecondsLength] = '\0';
        return true;
    }
    tm parts{};
    parts.tm_year = time.year - 1900;
    parts.tm_mon = time.month - 1;
    parts.tm_mday = time.day;
    parts.tm_hour = time.hour;
    parts.tm_min = time.minute;
    parts.tm_sec = time.second;
    parts.tm_wday = time.dayOfWeek;
    size_t written = std::strftime(out, static_cast<size_t>(len), form == 0 ? "%m/%d/%Y" : "%H:%M:%S", &parts);
    if (written == 0) return false;
    if (form == 2) {
        if (written + 4 >= static_cast<size_t>(len)) return false;
        out[written] = '.';
        out[written + 1] = static_cast<char>('0' + time.milliseconds / 100);
        out[written + 2] = static_cast<char>('0' + (time.milliseconds / 10) % 10);
        out[written + 3] = static_cast<char>('0' + time.milliseconds % 10);
        out[written + 4] = '\0';
    }
    return true;
}

bool CKrErrLogMessage::GetDateTime(const tm* time, char* out, int len)
{
    if (!time || !out || len < 25) return false;
    krerrlog::CalendarTime calendar{};
    calendar.year = time->tm_year + 1900;
    calendar.month = time->tm_mon + 1;
    calendar.dayOfWeek = time->tm_wday;
    calendar.day = time->tm_mday;
    calendar.hour = time->tm_hour;
    calendar.minute = time->tm_min;
    calendar.second = time->tm_sec;
    krerrlog::FormatDateTime(calendar, out);
    out[krerrlog::kDateTimeLength] = '\0';
    return true;
}

const char* CKrErrLogMessage::PathnameFindFilePart(const char* path)
{
    if (!path) return path;
    if (const char* slash = std::strrchr(path, '/')) return slash + 1;
    if (const char* backslash = std::strrchr(path, '\\')) return backslash + 1;
    return path;
}
