// Reaches the logger's private life cycle, so tests can make loggers of their
// own besides the process-wide one.
#pragma once

#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/trace/CKrTraceData.h>

class CKrLoggerTestPeer {
public:
    static CKrLogger* Create() { return new CKrLogger; }
    static void Init(CKrLogger& logger) { logger.Init(); }
    static void Release(CKrLogger& logger) { logger.Release(); }
    static unsigned long TraceKey(const CKrLogger& logger) { return logger.m_traceKey; }
    static unsigned long InMemoryTraceKey(const CKrLogger& logger) { return logger.m_inMemoryTraceKey; }
    static int ComponentCount(const CKrLogger& logger) { return logger.m_iComponentCount; }
    static CKrErrLogGuard& LogGuard(CKrLogger& logger) { return logger.m_logGuard; }
    static CKrErrLogGuard& AuditGuard(CKrLogger& logger) { return logger.m_auditGuard; }
    static CKrErrLogGuard& TraceGuard(CKrLogger& logger) { return logger.m_traceGuard; }

    // Trace state. Versions are read under the trace guard, as a decision would.
    static int TraceConfigVersion(CKrLogger& logger)
    {
        CKrErrLogAutoReader hold(&logger.m_traceGuard);
        return logger.m_pTraceConfig ? logger.m_pTraceConfig->GetVersion() : 0;
    }
    static int InMemoryConfigVersion(CKrLogger& logger)
    {
        CKrAutoReader hold(&logger.m_inMemoryGuard);
        return logger.m_pInMemoryTraceConfig ? logger.m_pInMemoryTraceConfig->GetVersion() : 0;
    }
    static int TraceVerdict(const CKrLogger& logger, unsigned int componentId)
    {
        return logger.m_traceVerdicts[componentId >> 16];
    }

    // Component catalogue.
    static CKrErrLogComponent* Slot(const CKrLogger& logger, int slot) { return logger.m_pComponents[slot]; }
    static void SetSlot(CKrLogger& logger, int slot, CKrErrLogComponent* component)
    {
        logger.m_pComponents[slot] = component;
    }
    static const KrTraceComponentInfo* ComponentInfo(const CKrLogger& logger, int& count)
    {
        count = logger.m_iComponentInfoCount;
        return logger.m_pComponentInfo;
    }
    static const KrTraceDataFieldInfo* DataFieldInfo(const CKrLogger& logger, int& count)
    {
        count = logger.m_iDataFieldInfoCount;
        return logger.m_pDataFieldInfo;
    }
    static void RebuildKnownInfo(CKrLogger& logger)
    {
        logger.ReleaseKnownInfo();
        logger.InitKnownInfo();
    }
    static CKrErrLogComponent* LoadComponent(CKrLogger& logger, const char* name)
    {
        return logger.LoadComponent(0, name);
    }
    static void UnloadComponent(CKrLogger& logger, CKrErrLogComponent* component)
    {
        logger.UnloadComponent(component);
    }
};
