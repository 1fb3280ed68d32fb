// One log, trace or audit line under construction, with its growable text.
// A message belongs to one thread at a time; none of its operations lock.
#pragma once

#include <krerrlog/KrExport.h>

#include <krerrlog/message/KrMessageIds.h>
#include <krerrlog/message/KrToString.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace krerrlog {
class MessageBuffer;
}

class KRERRLOG_API CKrErrLogMessage {
public:
    // Local time or UTC as the process-wide logger says now.
    CKrErrLogMessage();
    explicit CKrErrLogMessage(bool useLocalTime);
    virtual ~CKrErrLogMessage();
    CKrErrLogMessage(const CKrErrLogMessage&) = delete;
    CKrErrLogMessage& operator=(const CKrErrLogMessage&) = delete;

    // ---- Buffer ----
    bool CleanUpMessage();
    const char* GetBuffer();
    const char* ReleaseBuffer();
    int GetBufferLen();
    int GetStringLen();
    static void FreeBuffer(char* buffer);
    void SetLogName(std::string name);

    // ---- Prolog: [pid/tid][date time.ms][file:line] and the optional tags ----
    bool FormatLogProlog(const char* file, int line, int messageType);
    bool FormatLogProlog(const char* file, int line, int messageType, std::string logName);
    // "INFO", "WARN", "ERROR" or "UNKNOWN" for the severity of the last catalogue id.
    const char* GetMsgSeverity();

    // ---- Static date, time and identity operations ----
    static bool GetPid(char* out, int len);
    static bool GetTid(char* out, int len);
    // Form 0 "%m/%d/%Y", 1 "%H:%M:%S", 2 form 1 with ".mmm", other: the prolog's
    // date-time text. len must be at least 25 (29 for the prolog's text).
    static bool GetTime(int form, char* out, bool localTime, int len);
    static bool GetDateTime(const tm* time, char* out, int len);
    static const char* PathnameFindFilePart(const char* path);

    // ---- Message texts and argument substitution ----
    // Component texts: "[" severity word "] " text "\n". False, and nothing
    // appended, when the id has no text in the process-wide logger's catalogue.
    // Up to 14 arguments, each anything a __ToString__ is made from.
    template <typename... Args,
              typename std::enable_if<!krerrlog::IsInPlaceArguments<Args...>::value, int>::type = 0>
    bool FormatLogMessage(int id, const Args&... args)
    {
        static_assert(sizeof...(Args) <= kMaxFormatArguments, "at most 14 arguments");
        return krerrlog::WithArgumentTexts(
            [this, id](int count, const char** texts) { return FormatLogMessageVA(id, count, texts); }, args...);
    }
    // The text filled by safe_snprintf_impl, cut at 4095 characters.
    bool FormatLogMessageVA(int id, int count, const char** texts);
    // Older form: each "%s" in turn is replaced by the next argument; nothing
    // else in the text is special.
    bool FormatLogMessage(int id, char** args, int count);
    // The text as a printf format for the caller's typed arguments.
    bool FormatLogMessageVA(int id, va_list list);

    // Audit texts: exactly the formatted text, never cut. False for a null or
    // empty format.
    template <typename... Args>
    bool FormatAuditMessage(const char* format, const Args&... args)
    {
        static_assert(sizeof...(Args) <= kMaxFormatArguments, "at most 14 arguments");
        return krerrlog::WithArgumentTexts(
            [this, format](int count, const char** texts) { return FormatAuditMessageVA(format, count, texts); },
            args...);
    }
    bool FormatAuditMessageVA(const char* format, int count, const char** texts);

    // Free trace texts: a new buffer of at most 4095 characters, given back with
    // FreeFormattedMessage; null for a null format.
    template <typename... Args>
    static const char* FormatTraceMessage(const char* format, const Args&... args)
    {
        static_assert(sizeof...(Args) <= kMaxFormatArguments, "at most 14 arguments");
        return krerrlog::WithArgumentTexts(
            [format](int count, const char** texts) { return FormatTraceMessageVA(format, count, texts); }, args...);
    }
    static const char* FormatTraceMessageVA(const char* format, int count, const char** texts);
    static void FreeFormattedMessage(const char* message);

    // Appends text as it stands (nothing for null).
    void SetFormattedMessage(const char* text);

    // Translated texts. The id's key (or a fallback key "kr-log-0000n") and its
    // bundle text for locale filled with the held arguments into out; returns
    // the key. Id 0 means the id given last.
    const char* PreformatMessage(unsigned int id, const char* locale, char* out, size_t outSize);
    // "[" severity word "][" key "] " text "\n" after the prolog, in the
    // administrator's locale; the whole line, or null without a prolog.
    const char* FormatMessageA(unsigned int id);
    // Replaces the line with "[" key "] " text, in English.
    const char* FormatMessageForTrace(unsigned int id);
    // The arguments of translated texts: at most 15; a null text is "<null>".
    void ClearArguments();
    void AddArgument();
    void AddArgument(const char* text);

    static constexpr int kMaxFormatArguments = 14;
    static constexpr int kMaxHeldArguments = 15;

    // ---- Trace line layout ----
    // A trace line is BeginTraceFormat, one field operation per field, then
    // EndTraceFormat; everything is appended to what the message already holds
    // and written exactly as received (nothing is escaped or quoted).
    // Formats: 0 "[value]" per field, 1 fixed-width columns two blanks apart,
    // 2 values separated by the delimiter, 3 "<element>" holding one
    // "\t<name>value</name>" per field. separator is format 2's delimiter or
    // format 3's element name; it is not copied and must outlive the line.
    void BeginTraceFormat(int format, bool useLocalTime, const char* separator);
    // One field of a data line (formats 0, 2 and 3); a null value writes nothing.
    void newFormatTraceField(const char* value, int unusedType, const char* name);
    // One field of a header line: as above, but a format-3 element ends with a newline.
    void FormatTraceField(const char* value, const char* name, int unused);
    // One format-1 column: cut to width, or padded with blanks to it.
    void newFormatTraceField(const char* value, int unusedType, int width);
    void FormatTraceField(const char* value, int width);
    void EndTraceFormat();
    // In-memory lines: each present value followed by "|", absent ones as bare "|".
    void InMemFormatTraceField(const char* value, int unusedType);
    void InMemFormatTraceField(int absentCount);
    void InMemEndTraceFormat();

private:
    friend class CKrErrLogMessageTestPeer;

    KRERRLOG_LOCAL void AppendDateTime();

    krerrlog::MessageBuffer* m_pBuffer;  // made in m_bufferStorage: nothing to allocate, nothing to fail
    alignas(void*) unsigned char m_bufferStorage[32];
    int m_iMessageType;
    int m_iTraceFormat;
    bool m_bUseLocalTime;
    const char* m_pTraceSeparator;
    bool m_bFirstFieldPending;
    int m_iSeverity;
    uint64_t m_iArgumentCount;
    std::string m_packedArguments;
    uint32_t m_iMessageId;
    char* m_pTextBuffer;  // null when there was no memory for it
    std::string m_logName;
};
