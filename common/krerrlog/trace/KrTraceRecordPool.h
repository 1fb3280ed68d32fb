// The process-wide pool of per-thread trace record holders and its lock.
// Every logger attaches to it in Init and detaches in Release; the lock is made
// once per process, and the pool is emptied only when the last logger detaches,
// so one logger's release never frees records another logger's threads hold.
#pragma once

#include <krerrlog/support/KrErrLogCriticalSection.h>

namespace krerrlog {

class TraceRecordPool {
public:
    static TraceRecordPool& Instance();

    void AttachLogger();
    void DetachLogger();

    CKrErrLogCriticalSection& Lock() { return m_lock; }
    int AttachedLoggers();

private:
    TraceRecordPool() = default;
    void EmptyLocked();

    CKrErrLogCriticalSection m_lock;
    int m_iLoggers = 0;
};

}  // namespace krerrlog
