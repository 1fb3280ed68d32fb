// One trace record: the configuration a trace call runs under (selected
// components, traced fields in output order, filters, layout) and the values
// the call has set so far, with the message the line is assembled into.
//
// Roles. A master record reads the trace configuration file; the logger keeps
// it as the installed configuration. Per-thread copies and callers' records are
// refreshed from it (the private assignment). The configuration texts (the
// delimiter, the component list, the filter values) live in one immutable,
// reference-counted store: the master and every copy hold a reference, so a
// copy stays valid while its trace call runs even when the master is replaced
// and deleted on another thread.
//
// A record is used by one thread at a time; nothing in it is locked.
#pragma once

#include <krerrlog/KrExport.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/message/KrToString.h>
#include <krerrlog/trace/KrTraceVocabulary.h>

#include <cstdarg>
#include <cstddef>

class CKrLogger;

namespace krerrlog {
class TraceConfigStore;
class TraceConfigCheck;
class TraceConfigDiagnostics;
class TraceRecordPool;
}

class KRERRLOG_API CKrTraceData {
public:
    static constexpr int kFormatBufferSize = 1024;
    static constexpr int kFormatBufferCount = 3;
    static constexpr int kClockTextSize = 128;
    static constexpr int kMaxFormatArguments = 14;

    CKrTraceData();
    virtual ~CKrTraceData();
    CKrTraceData(const CKrTraceData&) = delete;

    // The logger lines are handed to; the process-wide logger when none is set.
    void SetLogger(CKrLogger* logger) { m_pLogger = logger; }
    CKrLogger* GetLogger();

    // ---- Configuration queries ----
    // The selected flag of the component whose id is exactly id.
    bool ComponentSelected(unsigned int id);
    // Flags of field id (false for ids of 67 and more).
    bool FieldTraced(unsigned int id);
    bool FieldFiltered(unsigned int id);
    int GetVersion() const { return m_iVersion; }

    // ---- Values of the current trace call ----
    // Each returns false for an id of 67 or more. After storing, the field's
    // filter is tested when test is true and the field is filtered.
    // Signed forms: Pid and Tid store this process's and thread's ids whatever
    // the value; Date, Time and PreciseTime read the clock when the id is the
    // record's clock driver and store nothing otherwise. The wider forms keep
    // only the low 32 bits.
    bool SetFieldValue(unsigned int id, int value, bool test);
    bool SetFieldValue(unsigned int id, long value, bool test);
    bool SetFieldValue(unsigned int id, long long value, bool test);
    bool SetFieldValue(unsigned int id, unsigned int value, bool test);
    bool SetFieldValue(unsigned int id, unsigned long value, bool test);
    bool SetFieldValue(unsigned int id, unsigned long long value, bool test);
    bool SetFieldValue(unsigned int id, double value, bool test);
    // The text is referenced, not copied: it must outlive the trace call.
    bool SetFieldValue(unsigned int id, const char* value, bool test);
    bool SetFieldValue(unsigned int id, bool value, bool test);

    // ---- The line ----
    bool Format();       // data line of the configured format into the record's message
    bool InMemFormat();  // in-memory line into the record's message
    const char* GetFormattedTraceMessage();

    // Clears the values, frees the long texts and empties the message (a
    // grown message shrinks back). A record that was never configured (used
    // only for formatting) keeps its values, but for those that pointed into
    // the long texts it frees all the same.
    bool CleanUpData();
    // Hand the assembled message to the record's logger: the trace (true
    // whatever the outputs report; false for an uninitialised logger) and the
    // in-memory trace (the logger's result).
    bool Log();
    bool LogInMemory();
    // Frees the long texts and empties the message; values stay.
    bool InMemoryCleanUpData();
    bool LeaveNoBody() { return CleanUpData(); }
    bool InMemoryLeaveNoBody() { return InMemoryCleanUpData(); }

    // ---- Message texts ----
    // Formats into the format buffer chosen by SelectFormatBuffer (1,024 bytes)
    // or, when longer, into a long text of the record. Every text returned
    // stays valid until the same format buffer is used again or the record is
    // cleaned up; long texts are all kept until clean-up, up to 1 MiB in all
    // per trace call: a text beyond that comes back cut to the 1,024 bytes.
    // Up to 14 arguments, each anything a __ToString__ is made from.
    template <typename... Args>
    const char* FormatTraceMessage(const char* format, const Args&... args)
    {
        static_assert(sizeof...(Args) <= kMaxFormatArguments, "at most 14 arguments");
        return krerrlog::WithArgumentTexts(
            [this, format](int count, const char** texts) { return FormatTraceMessageVA(format, count, texts); },
            args...);
    }
    // Each conversion of format takes the next of the count texts.
    const char* FormatTraceMessageVA(const char* format, int count, const char** texts);
    // printf conventions with typed arguments.
    const char* FormatTraceMessageVA(const char* format, va_list arguments)
#if defined(__GNUC__) || defined(__clang__)
        __attribute__((format(printf, 2, 0)))
#endif
        ;
    // Which of the three format buffers the next formatting writes (0 to 2):
    // the library uses 0 for the message and 1 for the source position.
    void SelectFormatBuffer(unsigned int index) { m_iBuffer = index % kFormatBufferCount; }

private:
    friend class CKrLogger;
    friend class KrTracing;
    friend class krerrlog::TraceRecordPool;  // clears a record handed out again
    friend class CKrTraceDataTestPeer;
    friend class krerrlog::TraceConfigCheck;  // reads a file for the operators' checker

    // The refresh from a master: configuration only, values stay.
    CKrTraceData& operator=(const CKrTraceData& master);

    // ---- Configuration (read once by the enabling calls) ----
    bool SetConfiguration(int format, const char* delimiter, const char* configFile, int componentCount,
                          KrTraceComponentInfo* components, KrTraceDataFieldInfo* fields, bool useLocalTime);
    // SetConfiguration without the read: the enabling calls that read the file
    // themselves (the in-memory trace) prepare the record with this.
    bool PrepareConfiguration(int format, const char* delimiter, int componentCount,
                              const KrTraceComponentInfo* components, const KrTraceDataFieldInfo* fields,
                              bool useLocalTime);
    // Reads the file whole, then parses it as ReadConfigText does.
    bool ReadConfigFile(const char* path);
    // The same read, also reporting where and why the file is refused or a
    // part of it passed over; the record comes out the same either way.
    KRERRLOG_LOCAL bool ReadConfigFile(const char* path, krerrlog::TraceConfigDiagnostics* diagnostics);
    // Parses a configuration held in memory (length bytes, not NUL-terminated),
    // reporting to diagnostics when given.
    KRERRLOG_LOCAL bool ReadConfigText(const char* text, size_t length,
                                       krerrlog::TraceConfigDiagnostics* diagnostics = nullptr);
    // Gives the record configuration texts of its own before it changes them,
    // so a read never touches texts that copies share; false, the record as it
    // was, without memory for them.
    bool MakeConfigurationPrivate();
    // 0 when none of Date, Time, PreciseTime is traced, else the highest traced id.
    void SetDateTimeFieldFromConfiguration();
    bool MarkComponentTraced(unsigned int id);
    KrTraceComponentInfo* GetComponentInfo(unsigned int id);
    KrTraceComponentInfo* GetComponentInfo(const char* name);
    KrTraceDataFieldInfo* GetDataFieldInfo(unsigned int id);
    KrTraceDataFieldInfo* GetDataFieldInfo(const char* name);
    bool TestDataFilter(unsigned int id);

    // ---- Values and the line ----
    bool SetSignedValue(unsigned int id, int value, bool test);
    bool SetUnsignedValue(unsigned int id, unsigned int value, bool test);
    bool FilterResult(unsigned int id, bool test);
    bool PopulateDateandTime();
    bool AssembleTraceMessage(CKrErrLogMessage& msg, int mode);
    bool AssembleInMemoryTraceMessage(CKrErrLogMessage& msg, int mode);
    void FreeLongTexts();
    // Whether text points into one of the record's long texts.
    bool InLongText(const char* text);
    char* NewLongText(size_t length);

    unsigned int m_iBuffer;
    const char* m_pszTagName;
    bool m_bConfigured;
    bool m_bOwnsConfig;
    bool m_bUseLocalTime;
    int m_iFormat;
    char* m_pszDelimiter;
    int m_iComponentInfoCount;
    KrTraceComponentInfo* m_pComponentInfo;
    KrTraceDataFieldInfo m_fields[KR_KNOWN_DATA_FIELD_COUNT];
    CKrErrLogMessage m_message;
    char m_formatBuffers[kFormatBufferCount][kFormatBufferSize];
    // The newest long text; each long text keeps a link to the one before it,
    // so all of a trace call's long texts live until clean-up.
    char* m_pszLongText;
    int m_fieldOrder[KR_KNOWN_DATA_FIELD_COUNT];
    int m_iVersion;
    char m_szDate[kClockTextSize];
    char m_szTime[kClockTextSize];
    char m_szPreciseTime[kClockTextSize];
    CKrLogger* m_pLogger;
    int m_iDateTimeField;

    // The shared configuration texts that m_pszDelimiter, m_pComponentInfo and
    // the filter values point into; one reference per record.
    krerrlog::TraceConfigStore* m_pConfigStore;
    // The second and time mode of the clock texts, which change only with them.
    long long m_iClockSecond;
    bool m_bClockLocalTime;
};
