#include <krerrlog/logger/CKrLogger.h>

#include <krerrlog/support/internal/KrThreadKey.h>
#include <krerrlog/support/platform/KrSavedErrorCodes.h>
#include <krerrlog/trace/CKrTraceData.h>
#include <krerrlog/support/internal/KrProcessWide.h>
#include <krerrlog/support/platform/KrForkSafety.h>
#include <krerrlog/trace/internal/KrTraceRecordPool.h>

#include <atomic>
#include <cstring>
#include <new>

int CKrLogger::m_iConfigVersion = 0;
std::atomic<bool> CKrLogger::m_bUnloadedComponents{false};

CKrLogger::CKrLogger()
    : m_bInited(false),
      m_pLogOutput(nullptr),
      m_pTraceOutput(nullptr),
      m_pSecondTraceOutput(nullptr),
      m_pInMemoryTraceOutput(nullptr),
      m_pAuditOutput(nullptr),
      m_pComponents(nullptr),
      m_iComponentCount(0),
      m_bUseLocalTime(false),
      m_pComponentInfo(nullptr),
      m_iComponentInfoCount(0),
      m_pDataFieldInfo(nullptr),
      m_iDataFieldInfoCount(0),
      m_pTraceConfig(nullptr),
      m_pInMemoryTraceConfig(nullptr),
      m_bInMemoryOutputCreated(false),
      m_bBufferedTracing(false),
      m_pInMemoryOutput(nullptr),
      m_iExecutionTimeThreshold(0),
      m_bTagEnabled(false),
      m_bTraceAvailable(false),
      m_bInMemoryTraceAvailable(false)
{
    initializeThreadKey(&m_traceKey);
    initializeThreadKey(&m_inMemoryTraceKey);
    Init();
}

CKrLogger::~CKrLogger() { Release(); }

namespace {

// Takes the five guards in the global lock order and gives them back in reverse.
class KRERRLOG_SCOPED_CAPABILITY AllGuardsForWriting {
public:
    AllGuardsForWriting(CKrErrLogGuard& log, CKrReadWriteGuard& bufferedTrace, CKrReadWriteGuard& inMemory,
                        CKrErrLogGuard& trace, CKrErrLogGuard& audit)
        KRERRLOG_ACQUIRE(log, bufferedTrace, inMemory, trace, audit)
        : m_log(log), m_bufferedTrace(bufferedTrace), m_inMemory(inMemory), m_trace(trace), m_audit(audit)
    {
        m_log.LockForWrite();
        m_bufferedTrace.LockForWrite();
        m_inMemory.LockForWrite();
        m_trace.LockForWrite();
        m_audit.LockForWrite();
    }
    ~AllGuardsForWriting() KRERRLOG_RELEASE()
    {
        m_audit.Unlock();
        m_trace.Unlock();
        m_inMemory.Unlock();
        m_bufferedTrace.Unlock();
        m_log.Unlock();
    }
    AllGuardsForWriting(const AllGuardsForWriting&) = delete;
    AllGuardsForWriting& operator=(const AllGuardsForWriting&) = delete;

private:
    CKrErrLogGuard& m_log;
    CKrReadWriteGuard& m_bufferedTrace;
    CKrReadWriteGuard& m_inMemory;
    CKrErrLogGuard& m_trace;
    CKrErrLogGuard& m_audit;
};

}  // namespace

void CKrLogger::Init()
{
    // A guard without its state (no memory for it) would keep nobody out.
    if (!m_logGuard.HasState() || !m_bufferedTraceGuard.HasState() || !m_inMemoryGuard.HasState() ||
        !m_traceGuard.HasState() || !m_auditGuard.HasState()) {
        return;
    }
    AllGuardsForWriting hold(m_logGuard, m_bufferedTraceGuard, m_inMemoryGuard, m_traceGuard, m_auditGuard);
    if (m_bInited) return;

    if (!SetUpComponents()) {
        DropComponents();
        ReleaseKnownInfo();
        return;
    }
    krerrlog::TraceRecordPool::Instance().AttachLogger();

    std::memset(m_traceVerdicts, 0, sizeof m_traceVerdicts);
    std::memset(m_inMemoryTraceVerdicts, 0, sizeof m_inMemoryTraceVerdicts);
    m_traceKey = krerrlog::ThreadKeyAlloc();
    m_inMemoryTraceKey = krerrlog::ThreadKeyAlloc();
    m_bInited = true;
}

void CKrLogger::Release()
{
    if (!m_bInited) return;
    AllGuardsForWriting hold(m_logGuard, m_bufferedTraceGuard, m_inMemoryGuard, m_traceGuard, m_auditGuard);

    UnloadComponents();
    ShutDownOutputsLocked();
    ReleaseKnownInfo();

    delete m_pTraceConfig;
    m_pTraceConfig = nullptr;
    delete m_pInMemoryTraceConfig;
    m_pInMemoryTraceConfig = nullptr;

    krerrlog::TraceRecordPool::Instance().DetachLogger();
    {
        krerrlog::SavedErrorCodes keepErrors;
        krerrlog::ThreadKeyFree(m_traceKey);
        krerrlog::ThreadKeyFree(m_inMemoryTraceKey);
    }
    initializeThreadKey(&m_traceKey);
    initializeThreadKey(&m_inMemoryTraceKey);
    m_bInited = false;
}

void CKrLogger::HoldGuardsAcrossFork()
{
    m_logGuard.LockForWrite();
    m_bufferedTraceGuard.LockForWrite();
    m_inMemoryGuard.LockForWrite();
    m_traceGuard.LockForWrite();
    m_auditGuard.LockForWrite();
}

// Unchecked: in the child the guards are made anew rather than given back.
void CKrLogger::ReleaseGuardsAfterFork(bool inChild) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
{
    if (inChild) {
        m_auditGuard.ResetInChild();
        m_traceGuard.ResetInChild();
        m_inMemoryGuard.ResetInChild();
        m_bufferedTraceGuard.ResetInChild();
        m_logGuard.ResetInChild();
        return;
    }
    m_auditGuard.Unlock();
    m_traceGuard.Unlock();
    m_inMemoryGuard.Unlock();
    m_bufferedTraceGuard.Unlock();
    m_logGuard.Unlock();
}

CKrLogger* CKrLogger::MakeInited()
{
    CKrLogger* logger = new (std::nothrow) CKrLogger;
    if (logger && !logger->Inited()) {
        delete logger;
        return nullptr;
    }
    return logger;
}

CKrLogger* theLogger()
{
    return krerrlog::ProcessWideInstance<CKrLogger>([]() -> CKrLogger* {
        CKrLogger* logger = CKrLogger::MakeInited();
        if (logger) {
            // Unchecked lambdas: the hold spans the fork handlers.
            krerrlog::RegisterForkSafeLock(
                krerrlog::kForkOrderProcessLogger, logger,
                {[](void* l) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS { static_cast<CKrLogger*>(l)->HoldGuardsAcrossFork(); },
                 [](void* l) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS {
                     static_cast<CKrLogger*>(l)->ReleaseGuardsAfterFork(false);
                 },
                 [](void* l) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS {
                     static_cast<CKrLogger*>(l)->ReleaseGuardsAfterFork(true);
                 }});
        }
        return logger;
    });
}

const char* getProductVersion() { return "Krynex version 12.8.0801.3003 [krerrlog.dll in common]"; }
