// Reaches the logger's private life cycle, so tests can make loggers of their
// own besides the process-wide one.
#pragma once

#include <krerrlog/logger/CKrLogger.h>

class CKrLoggerTestPeer {
public:
    static CKrLogger* Create() { return new CKrLogger; }
    static void Init(CKrLogger& logger) { logger.Init(); }
    static void Release(CKrLogger& logger) { logger.Release(); }
    static unsigned long TraceKey(const CKrLogger& logger) { return logger.m_traceKey; }
    static unsigned long InMemoryTraceKey(const CKrLogger& logger) { return logger.m_inMemoryTraceKey; }
    static int ComponentCount(const CKrLogger& logger) { return logger.m_iComponentCount; }
};
