// The logger: outputs of the error log, the trace, the in-memory trace and the
// audit log, the guards over them, the component catalogue and the trace
// configurations. theLogger() is the process-wide instance.
#pragma once

#include <krerrlog/KrExport.h>
#include <krerrlog/KrThreadAnnotations.h>
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
    // Unchecked: a documented read without the lock.
    CKrLogOutput* GetLogOutput() const KRERRLOG_NO_THREAD_SAFETY_ANALYSIS { return m_pLogOutput; }
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
    CKrLogOutput* GetTraceOutput(int type) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS;  // unchecked: no lock, as documented
    // The logger's single in-memory output, made on the first call with size
    // megabytes; later calls return it and ignore size. No lock.
    CKrLogOutput* NewLogOutput(int unused, int size) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS;  // unchecked: no lock
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

    // The version number last held by a dropped trace configuration; shared by
    // every logger, changed through relaxed std::atomic_ref (KeepDroppedVersion):
    // a counter that only grows, read as a floor, publishing nothing else.
    static int m_iConfigVersion;

private:
    friend CKrLogger* theLogger();
    friend class CKrLoggerList;  // makes the named loggers
    friend class CKrLoggerTestPeer;
    friend class krerrlog::TraceConfigCheck;  // reads the vocabulary for the operators' checker
    friend class KrTracing;                   // begins a trace call with the two flags below, inline

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
    // Every output, all guards already held.
    KRERRLOG_LOCAL void ShutDownOutputsLocked()
        KRERRLOG_REQUIRES(m_logGuard, m_bufferedTraceGuard, m_inMemoryGuard, m_traceGuard, m_auditGuard);
    // Across fork: the five guards held for writing in their order, then given
    // back (parent) or left free (child).
    KRERRLOG_LOCAL void HoldGuardsAcrossFork()
        KRERRLOG_ACQUIRE(m_logGuard, m_bufferedTraceGuard, m_inMemoryGuard, m_traceGuard, m_auditGuard);
    KRERRLOG_LOCAL void ReleaseGuardsAfterFork(bool inChild)
        KRERRLOG_RELEASE(m_logGuard, m_bufferedTraceGuard, m_inMemoryGuard, m_traceGuard, m_auditGuard);
    friend class CKrLoggerList;
    bool SetLogOutput_Unlocked(CKrLogOutput* output) KRERRLOG_REQUIRES(m_logGuard);
    KRERRLOG_LOCAL CKrTraceData* NewMaster();
    // Both trace guards (in-memory guard) already held for writing.
    KRERRLOG_LOCAL void DisableTraceLocked(bool keepConfig) KRERRLOG_REQUIRES(m_bufferedTraceGuard, m_traceGuard);
    KRERRLOG_LOCAL bool DisableInMemoryTraceLocked() KRERRLOG_REQUIRES(m_inMemoryGuard);
    KRERRLOG_LOCAL void DropTraceConfigLocked() KRERRLOG_REQUIRES(m_bufferedTraceGuard, m_traceGuard);
    KRERRLOG_LOCAL void DropInMemoryTraceConfigLocked() KRERRLOG_REQUIRES(m_inMemoryGuard);
    // After every change of the trace (in-memory) slots, under the writer side.
    KRERRLOG_LOCAL void PublishTraceAvailability() KRERRLOG_REQUIRES(m_bufferedTraceGuard, m_traceGuard);
    KRERRLOG_LOCAL void PublishInMemoryAvailability() KRERRLOG_REQUIRES(m_inMemoryGuard);
    // Stores one of the two flags and keeps the count of available traces.
    KRERRLOG_LOCAL static void Publish(std::atomic<bool>& flag, bool available);
    KRERRLOG_LOCAL bool TraceAvailableLocked() const KRERRLOG_REQUIRES_SHARED(m_traceGuard);
    KRERRLOG_LOCAL bool InMemoryTraceAvailableLocked() const KRERRLOG_REQUIRES_SHARED(m_inMemoryGuard);
    KRERRLOG_LOCAL bool DecideLocked(int* verdicts, CKrTraceData* master, unsigned int componentId);
    // Every entry back to undecided; the writer side held, the kind's flag false.
    KRERRLOG_LOCAL static void ClearVerdicts(int* verdicts);
    // True when the component was already decided not traced; no hold.
    KRERRLOG_LOCAL static bool KnownNotTraced(int* verdicts, unsigned int componentId);
    KRERRLOG_LOCAL bool DecideTraceUnderHold(unsigned int componentId, CKrTraceData* record, CKrTraceData** out);
    KRERRLOG_LOCAL bool DecideInMemoryUnderHold(unsigned int componentId, CKrTraceData* record, CKrTraceData** out);
    // The read side of the trace guard, or of the buffered one while buffered
    // is set; to the analysis it is always m_traceGuard (see m_pTraceOutput).
    // False past the nesting limit, nothing held.
    KRERRLOG_LOCAL bool LockTraceForRead(bool buffered) KRERRLOG_TRY_ACQUIRE_SHARED(true, m_traceGuard);
    KRERRLOG_LOCAL void UnlockTrace(bool buffered) KRERRLOG_RELEASE_SHARED(m_traceGuard);
    KRERRLOG_LOCAL bool ThreadReadsUnderTrace() const;  // inside a trace output's Log
    KRERRLOG_LOCAL bool HandOutRecord(bool inMemory, int version, CKrTraceData** out);
    CKrErrLogComponent* LoadComponent(unsigned long unused, const char* libraryName);
    void UnloadComponent(CKrErrLogComponent* component);

    unsigned long m_traceKey;
    unsigned long m_inMemoryTraceKey;
    bool m_bInited;  // set and cleared with all five guards held for writing
    CKrLogOutput* m_pLogOutput KRERRLOG_GUARDED_BY(m_logGuard);
    // The trace slots (outputs, configuration, verdicts) are changed with both
    // trace guards held for writing and read under either one's reader side:
    // m_traceGuard, or m_bufferedTraceGuard while buffered tracing is on. The
    // analysis knows one guard per member; it checks m_traceGuard, and the
    // writers' REQUIRES name both.
    CKrLogOutput* m_pTraceOutput KRERRLOG_GUARDED_BY(m_traceGuard);
    CKrLogOutput* m_pSecondTraceOutput KRERRLOG_GUARDED_BY(m_traceGuard);
    CKrLogOutput* m_pInMemoryTraceOutput KRERRLOG_GUARDED_BY(m_inMemoryGuard);
    CKrLogOutput* m_pAuditOutput KRERRLOG_GUARDED_BY(m_auditGuard);
    CKrErrLogComponent** m_pComponents;
    int m_iComponentCount;
    bool m_bUseLocalTime;
    // The guards, in the order a thread takes them when it holds several:
    // log, buffered trace, in-memory, trace, audit (clang checks it with
    // -Wthread-safety-beta). The registry's guard (CKrLoggerList) comes before
    // them, the trace-record pool's section after them.
    CKrErrLogGuard m_logGuard KRERRLOG_ACQUIRED_BEFORE(m_bufferedTraceGuard);
    CKrReadWriteGuard m_bufferedTraceGuard KRERRLOG_ACQUIRED_BEFORE(m_inMemoryGuard);
    CKrReadWriteGuard m_inMemoryGuard KRERRLOG_ACQUIRED_BEFORE(m_traceGuard);
    CKrErrLogGuard m_traceGuard KRERRLOG_ACQUIRED_BEFORE(m_auditGuard);
    CKrErrLogGuard m_auditGuard KRERRLOG_ACQUIRED_AFTER(m_traceGuard);
    std::string m_availableComponents;
    std::string m_availableDataFields;
    KrTraceComponentInfo* m_pComponentInfo;
    int m_iComponentInfoCount;
    KrTraceDataFieldInfo* m_pDataFieldInfo;
    int m_iDataFieldInfoCount;
    CKrTraceData* m_pTraceConfig KRERRLOG_GUARDED_BY(m_traceGuard);  // and m_bufferedTraceGuard, see m_pTraceOutput
    CKrTraceData* m_pInMemoryTraceConfig KRERRLOG_GUARDED_BY(m_inMemoryGuard);
    // Cleared under the writer side; readers fill entries in with relaxed
    // atomic accesses (DecideLocked), all storing the same verdict.
    // An entry decided "not traced" is also read without the guard (KnownNotTraced).
    static constexpr int kVerdictCount = 65536;
    int m_traceVerdicts[kVerdictCount] KRERRLOG_GUARDED_BY(m_traceGuard);
    int m_inMemoryTraceVerdicts[kVerdictCount] KRERRLOG_GUARDED_BY(m_inMemoryGuard);
    // The logger's own in-memory output: changed under m_inMemoryGuard, read
    // without it by the documented no-lock calls (NewLogOutput(int, int)).
    bool m_bInMemoryOutputCreated KRERRLOG_GUARDED_BY(m_inMemoryGuard);
    // Relaxed: only picks which trace guard a line takes; a switch happens
    // with both held for writing, so either choice finds consistent outputs.
    std::atomic<bool> m_bBufferedTracing;
    CKrLogOutput* m_pInMemoryOutput KRERRLOG_GUARDED_BY(m_inMemoryGuard);
    int m_iExecutionTimeThreshold;
    bool m_bTagEnabled;
    std::string m_logTag;
    std::string m_logName;

    // Whether trace and in-memory trace are available (initialised, master
    // installed, output present), republished by every change under the
    // writer side so that the begin of a trace call reads one flag. Release
    // store, acquire load: a reader that sees true sees the installed slots.
    std::atomic<bool> m_bTraceAvailable;
    std::atomic<bool> m_bInMemoryTraceAvailable;
    bool TraceAvailableNow() const { return m_bTraceAvailable.load(std::memory_order_acquire); }
    bool InMemoryTraceAvailableNow() const { return m_bInMemoryTraceAvailable.load(std::memory_order_acquire); }

    // Set by the first release that unloads the component libraries; loggers
    // may be released on several threads at once, so it is claimed atomically
    // (an exchange: only who claims it matters, no data is published by it).
    static std::atomic<bool> m_bUnloadedComponents;
};

// The process-wide logger, made on the first call; null after process exit began.
KRERRLOG_API CKrLogger* theLogger();

extern "C" KRERRLOG_API const char* getProductVersion();

// Starts the process-wide logger's trace into a file in one call.
extern "C" KRERRLOG_API bool KrInitLogger(bool append, bool useLocalTime, int rolloverSizeMB, int traceFormat,
                                          const char* delimiter, const char* traceConfigFile,
                                          const char* traceFilePath, int backupCount, char enableTag);
