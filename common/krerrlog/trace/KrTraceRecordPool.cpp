#include <krerrlog/trace/KrTraceRecordPool.h>

#include <new>

namespace krerrlog {

TraceRecordPool& TraceRecordPool::Instance()
{
    // Never destroyed: threads may still end (and return records) during exit.
    // Made in static storage, so that it needs no memory that could run out.
    alignas(TraceRecordPool) static unsigned char storage[sizeof(TraceRecordPool)];
    static TraceRecordPool* const pool = new (storage) TraceRecordPool;
    return *pool;
}

void TraceRecordPool::AttachLogger()
{
    CKrErrLogPrivAutoCS hold(m_lock);
    ++m_iLoggers;
}

void TraceRecordPool::DetachLogger()
{
    CKrErrLogPrivAutoCS hold(m_lock);
    if (m_iLoggers > 0 && --m_iLoggers == 0) EmptyLocked();
}

int TraceRecordPool::AttachedLoggers()
{
    CKrErrLogPrivAutoCS hold(m_lock);
    return m_iLoggers;
}

void TraceRecordPool::EmptyLocked()
{
    // The pool holds no records until per-thread trace records exist.
}

}  // namespace krerrlog
