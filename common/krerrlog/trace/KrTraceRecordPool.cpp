#include <krerrlog/trace/KrTraceRecordPool.h>

namespace krerrlog {

TraceRecordPool& TraceRecordPool::Instance()
{
    // Never destroyed: threads may still end (and return records) during exit.
    static TraceRecordPool* pool = new TraceRecordPool;
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
