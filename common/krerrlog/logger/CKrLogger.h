// The logger: outputs of the error log, the trace, the in-memory trace and the
// audit log, the guards over them, the component catalogue and the trace
// configurations. theLogger() is the process-wide instance.
#pragma once

#include <krerrlog/KrExport.h>
#include <krerrlog/support/KrErrLogGuard.h>
#include <krerrlog/support/KrReadWriteGuard.h>

#include <atomic>
#include <string>

class CKrLogOutput;
class CKrErrLogMessage;
class CKrErrLogComponent;
class CKrTraceData;
struct KrTraceComponentInfo;
struct KrTraceDataFieldInfo;
struct KrDeliveryCounts;
namespace krerrlog {
class TraceConfigCheck;
}

// Host callbacks of the callback outputs.
typedef void (*KrSyncLogCallback)(const char* text, int length);
typedef void (*KrAsyncLogCallback)(const char* text, int length, void (*freeText)(char*));
typedef void (*KrSyncParamLogCallback)(const char* text, int length, void* userParameter);
typedef void (*KrAsyncParamLogCallback)(const char* text, int length, void (*freeText)(char*), void* userParameter);

class KRERRLOG_API CKrLogger {
public:
    virtual ~CKrLogger();
    CKrLogger(const CKrLogger&) = delete;
    CKrLogger& operator=(const CKrLogger&) = delete;

    // ---- State and presentation switches (no lock taken) ----
    bool Inited() const { return m_bInited; }
    CKrLogOutput* GetLogOutput() const { return m_pLogOutput; }
    void SetExecutionTimeThreshold(int threshold) { m_iExecutionTimeThreshold = threshold; }
    int GetExecutionTimeThreshold() { return m_iExecutionTimeThreshold; }
    void UseLocalTime(bool useLocalTime) { m_bUseLocalTime = useLocalTime; }
    bool ShouldUseLocalTime() { return m_bUseLocalTime; }
    void SetLogTag(std::string tag) { m_logTag = std::move(tag); }
    std::string GetLogTag() { return m_logTag; }
    void SetLogName(std::string name) { m_logName = std::move(name); }
    std::string GetLogName() { return m_logName; }
    void EnableTag(bool enable) { m_bTagEnabled = enable; }
    bool IsTagEnabled() { return m_bTagEnabled; }

    // ---- Outputs and the error and audit logs ----
    // Each NewLogOutput ignores its first argument, makes the output and hands
    // it the remaining arguments; null when the output refuses them.
    CKrLogOutput* NewLogOutput(int unused);
    CKrLogOutput* NewLogOutput(int unused, const char* fileName, int openMode, int maxSizeMB, int backupCount);
    CKrLogOutput* NewLogOutput(int unused, const char* fileName, int openMode, int maxSizeMB, int backupCount,
                               int ringBufferMB);
    CKrLogOutput* NewLogOutput(int unused, KrSyncLogCallback callback);
    CKrLogOutput* NewLogOutput(int unused, KrAsyncLogCallback callback);
    CKrLogOutput* NewLogOutput(int unused, KrSyncParamLogCallback callback, void* userParameter);
    CKrLogOutput* NewLogOutput(int unused, KrAsyncParamLogCallback callback, void* userParameter);
    void DeleteLogOutput(CKrLogOutput* output);

    // Closes and deletes the attached output, then opens the new one and keeps
    // it (it is the logger's from then on) only if it opens; an output that
    // fails to open stays the caller's. A null output, or the one already
    // attached, is refused with false and changes nothing. Waits for every Log
    // in progress. Called from inside an output of the same log (a callback),
    // it would wait for itself: it is refused (false; the Disable calls do
    // nothing).
    bool SetLogOutput(CKrLogOutput* output);
    bool EnableAuditLogRollover(CKrLogOutput* output);  // the same for the audit log
    void DisableLog();
    void DisableAuditLog();
    // False when no output is attached or the logger is not initialised.
    // An output of the same log may log again from inside its Log (a host
    // callback that logs through its logger): the nested line goes to the
    // output at once, under the hold its caller already has, never waiting for
    // a writer; lines nested deeper than a few levels are refused with false,
    // so a callback that logs from every line ends.
    bool LogErrMsg(CKrErrLogMessage& message);
    bool LogAuditMsg(CKrErrLogMessage& message);
    // What the attached error-log (audit-log) output has delivered and lost
    // since it was made; false, and counts left alone, when none is attached.
    bool GetLogDeliveryCounts(KrDeliveryCounts& counts);
    bool GetAuditDeliveryCounts(KrDeliveryCounts& counts);

    // ---- Trace routing and the in-memory trace (KrLoggerTrace.cpp) ----
    // Reads the configuration file, replaces the trace outputs and the
    // installed configuration, and writes the two header lines. A second
    // output receives the same lines; it needs a synchronous primary output.
    // keepConfig replaces only the primary output. With buffered set the trace
    // is guarded by the buffered guard and a file output writes through its
    // ring buffer.
    bool EnableTrace(CKrLogOutput* out, int traceFormat, const char* delimiter, const char* traceConfigFile,
                     bool useLocalTime, bool keepConfig, bool buffered);
    bool EnableTrace(CKrLogOutput* out, CKrLogOutput* secondOut, int traceFormat, const char* delimiter,
                     const char* traceConfigFile, bool useLocalTime, bool keepConfig, bool buffered);
    void DisableTrace(bool keepConfig);
    // No lock: switch only while no trace lines flow, or through EnableTrace.
    void SetBufferedTracing(bool buffered) { m_bBufferedTracing.store(buffered, std::memory_order_relaxed); }
    bool GetBufferedTracing() { return m_bBufferedTracing.load(std::memory_order_relaxed); }
    // The primary trace output if it has this type code, else the secondary if
    // it has, else null. No lock.
    CKrLogOutput* GetTraceOutput(int type);
    // The logger's single in-memory output, made on the first call with size
    // megabytes; later calls return it and ignore size. No lock.
    CKrLogOutput* NewLogOutput(int unused, int size);
    bool SetInMemoryTraceFilePath(const char* path);
    bool EnableInMemoryTrace(CKrLogOutput* out, const char* traceConfigFile, bool replaceOutput, bool useLocalTime);
    bool DisableInMemoryTrace();
    bool InMemoryTraceStatus();
    void DumpTrace();
    // True whenever the logger is initialised, whatever the outputs report.
    bool LogTraceMsg(CKrErrLogMessage& message);
    // True only when an output is attached and every attached output logged.
    bool LogTraceMsgBuffTracingON(CKrErrLogMessage& message);
    bool LogTraceMsgBuffTracingOFF(CKrErrLogMessage& message);
    // The in-memory output's result; true when none is attached.
    bool LogInMemoryTraceMsg(CKrErrLogMessage& message);

    // ---- Trace decisions and per-thread records (KrTraceDecisions.cpp) ----
    // Any thread may call these at any time; they never change errno.
    bool TraceEnabled(unsigned int componentId);
    bool InMemoryTraceEnabled(unsigned int componentId);
    bool FieldTraced(unsigned int fieldId);
    bool FieldTracedInMemory(unsigned int fieldId);
    // The component's verdict; a traced answer refreshes record when it is
    // older than the installed configuration.
    bool ShouldTrace(unsigned int componentId, CKrTraceData* record);
    bool ShouldInMemoryTrace(unsigned int componentId, CKrTraceData* record);
    // Hands the calling thread's record to *out (taken from the pool on first
    // use and refreshed); false when *out is already set.
    bool TraceAlloc(CKrTraceData** out);
    bool InMemoryTraceAlloc(CKrTraceData** out);
    bool ShouldTraceAlloc(unsigned int componentId, CKrTraceData** out);
    bool ShouldInMemoryTraceAlloc(unsigned int componentId, CKrTraceData** out);
    // The record the calling thread holds, or null; never takes one.
    CKrTraceData* GetLocalKrTraceData();
    CKrTraceData* GetLocalInMemoryKrTraceData();

    // ---- Message catalogue and component libraries ----
    const char* FetchMsg(unsigned int msgId) const;
    const char* GetMsgBundle(unsigned int msgId) const;
    const char* GetAvailableComponents() const;
    const char* GetAvailableDataFields() const;

    // The version number last held by a dropped trace configuration.
    static int m_iConfigVersion;

private:
    friend CKrLogger* theLogger();
    friend class CKrLoggerList;  // makes the named loggers
    friend class CKrLoggerTestPeer;
    friend class krerrlog::TraceConfigCheck;  // reads the vocabulary for the operators' checker

    CKrLogger();
    // Initialises the logger; a logger that cannot be set up (memory ran out)
    // stays uninitialised, holding nothing.
    void Init();
    void Release();
    // A new initialised logger, or null when one cannot be made.
    KRERRLOG_LOCAL static CKrLogger* MakeInited();

    // Steps of Init and Release that live with the parts they belong to.
    KRERRLOG_LOCAL bool SetUpComponents();        // component slots and known-info tables
    KRERRLOG_LOCAL void DropComponents();         // undoes a set-up that failed half-way
    bool InitKnownInfo();
    KRERRLOG_LOCAL bool BuildKnownInfo();
    KRERRLOG_LOCAL void UnloadComponents();       // first release in the process only
    KRERRLOG_LOCAL void ReleaseKnownInfo();       // lists and tables
    KRERRLOG_LOCAL void ShutDownOutputsLocked();  // every output, all guards already held
    // Across fork: the five guards held for writing in their order, then given
    // back (parent) or left free (child).
    KRERRLOG_LOCAL void HoldGuardsAcrossFork();
    KRERRLOG_LOCAL void ReleaseGuardsAfterFork(bool inChild);
    friend class CKrLoggerList;
    bool SetLogOutput_Unlocked(CKrLogOutput* output);
    KRERRLOG_LOCAL CKrTraceData* NewMaster();
    KRERRLOG_LOCAL void DisableTraceLocked(bool keepConfig);  // trace guard already held
    KRERRLOG_LOCAL bool DisableInMemoryTraceLocked();          // in-memory guard already held
    KRERRLOG_LOCAL void DropTraceConfigLocked();
    KRERRLOG_LOCAL void DropInMemoryTraceConfigLocked();
    KRERRLOG_LOCAL void PublishAvailability();  // after every change of the trace or in-memory slots
    KRERRLOG_LOCAL bool TraceAvailableLocked() const;
    KRERRLOG_LOCAL bool InMemoryTraceAvailableLocked() const;
    KRERRLOG_LOCAL bool DecideLocked(int* verdicts, CKrTraceData* master, unsigned int componentId);
    KRERRLOG_LOCAL bool LockTraceForRead(bool buffered);  // false past the nesting limit, nothing held
    KRERRLOG_LOCAL void UnlockTrace(bool buffered);
    KRERRLOG_LOCAL bool ThreadReadsUnderTrace() const;  // inside a trace output's Log
    KRERRLOG_LOCAL bool HandOutRecord(bool inMemory, int version, CKrTraceData** out);
    CKrErrLogComponent* LoadComponent(unsigned long unused, const char* libraryName);
    void UnloadComponent(CKrErrLogComponent* component);

    unsigned long m_traceKey;
    unsigned long m_inMemoryTraceKey;
    bool m_bInited;
    CKrLogOutput* m_pLogOutput;
    CKrLogOutput* m_pTraceOutput;
    CKrLogOutput* m_pSecondTraceOutput;
    CKrLogOutput* m_pInMemoryTraceOutput;
    CKrLogOutput* m_pAuditOutput;
    CKrErrLogComponent** m_pComponents;
    int m_iComponentCount;
    bool m_bUseLocalTime;
    CKrErrLogGuard m_logGuard;
    CKrReadWriteGuard m_bufferedTraceGuard;
    CKrReadWriteGuard m_inMemoryGuard;
    CKrErrLogGuard m_traceGuard;
    CKrErrLogGuard m_auditGuard;
    std::string m_availableComponents;
    std::string m_availableDataFields;
    KrTraceComponentInfo* m_pComponentInfo;
    int m_iComponentInfoCount;
    KrTraceDataFieldInfo* m_pDataFieldInfo;
    int m_iDataFieldInfoCount;
    CKrTraceData* m_pTraceConfig;
    CKrTraceData* m_pInMemoryTraceConfig;
    int m_traceVerdicts[65536];
    int m_inMemoryTraceVerdicts[65536];
    bool m_bInMemoryOutputCreated;
    std::atomic<bool> m_bBufferedTracing;
    CKrLogOutput* m_pInMemoryOutput;
    int m_iExecutionTimeThreshold;
    bool m_bTagEnabled;
    std::string m_logTag;
    std::string m_logName;

    // Whether trace and in-memory trace are available (initialised, master
    // installed, output present), republished by every change under the
    // writer side so that the begin of a trace call reads one flag.
    std::atomic<bool> m_bTraceAvailable;
    std::atomic<bool> m_bInMemoryTraceAvailable;

    // Set by the first release that unloads the component libraries; loggers
    // may be released on several threads at once, so it is claimed atomically.
    static std::atomic<bool> m_bUnloadedComponents;
};

// The process-wide logger, made on the first call; null after process exit began.
KRERRLOG_API CKrLogger* theLogger();

extern "C" KRERRLOG_API const char* getProductVersion();

// Starts the process-wide logger's trace into a file in one call.
extern "C" KRERRLOG_API bool KrInitLogger(bool append, bool useLocalTime, int rolloverSizeMB, int traceFormat,
                                          const char* delimiter, const char* traceConfigFile,
                                          const char* traceFilePath, int backupCount, char enableTag);
