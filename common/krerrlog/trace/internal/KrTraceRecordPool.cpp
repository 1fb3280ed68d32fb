// The pool of per-thread trace record holders: hand-out, growth, emptying.
#include <krerrlog/trace/internal/KrTraceRecordPool.h>

#include <krerrlog/trace/CKrTraceData.h>
#include <krerrlog/trace/KrThreadTracePool.h>
#include <krerrlog/support/platform/KrForkSafety.h>

#include <cstring>
#include <memory>
#include <new>
#include <new>

namespace krerrlog {

TraceRecordPool& TraceRecordPool::Instance()
{
    // Never destroyed: threads may still end (and return records) during exit.
    // Made in static storage, so that it needs no memory that could run out.
    alignas(TraceRecordPool) static unsigned char storage[sizeof(TraceRecordPool)];
    static TraceRecordPool* const pool = new (storage) TraceRecordPool;
    // Held across fork; the child gets a fresh lock (the forking thread held it).
    // Unchecked lambdas: the hold spans the fork handlers.
    static const bool forkSafe = RegisterForkSafeLock(
        kForkOrderTraceRecordPool, pool,
        {[](void* p) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS { static_cast<TraceRecordPool*>(p)->Lock().Enter(); },
         [](void* p) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS { static_cast<TraceRecordPool*>(p)->Lock().Leave(); },
         [](void* p) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS {
             new (&static_cast<TraceRecordPool*>(p)->Lock()) CKrErrLogCriticalSection;
         }});
    (void)forkSafe;
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

int TraceRecordPool::EntryCount()
{
    CKrErrLogPrivAutoCS hold(m_lock);
    return m_iCount;
}

int TraceRecordPool::FreeEntryCount()
{
    CKrErrLogPrivAutoCS hold(m_lock);
    int free = 0;
    for (int i = 0; i < m_iCount; ++i) free += m_pEntries[i]->bFree.load(std::memory_order_acquire) ? 1 : 0;
    return free;
}

bool TraceRecordPool::GrowLocked()
{
    // Everything is made before anything is changed: without memory for all
    // of it the pool stays as it was.
    std::unique_ptr<ThreadTraceData*[]> grown(new (std::nothrow) ThreadTraceData*[m_iCount + kGrowth]);
    if (!grown) return false;
    for (int i = 0; i < kGrowth; ++i) {
        CKrTraceData* record = new (std::nothrow) CKrTraceData;
        ThreadTraceData* entry = record ? new (std::nothrow) ThreadTraceData{record, {true}, nullptr, 0} : nullptr;
        if (!entry) {
            delete record;
            for (int j = 0; j < i; ++j) {
                delete grown[m_iCount + j]->pTraceData;
                delete grown[m_iCount + j];
            }
            return false;
        }
        grown[m_iCount + i] = entry;
    }
    if (m_iCount > 0) std::memcpy(grown.get(), m_pEntries, sizeof(ThreadTraceData*) * static_cast<size_t>(m_iCount));
    delete[] m_pEntries;
    m_pEntries = grown.release();
    m_iCount += kGrowth;
    return true;
}

ThreadTraceData* TraceRecordPool::Take()
{
    ThreadTraceData* entry = nullptr;
    {
        CKrErrLogPrivAutoCS hold(m_lock);
        for (int i = 0; i < m_iCount && !entry; ++i) {
            // Thread end sets the flag without the lock: claim it atomically.
            bool expected = true;
            if (m_pEntries[i]->bFree.compare_exchange_strong(expected, false, std::memory_order_acquire)) {
                entry = m_pEntries[i];
            }
        }
        if (!entry) {
            const int first = m_iCount;
            if (!GrowLocked()) return nullptr;
            entry = m_pEntries[first];
            entry->bFree.store(false, std::memory_order_relaxed);  // new, under the lock: no thread has seen it
        }
    }
    // The entry is ours now. An ended thread may have left a call's values
    // pointing at its own texts, and a logger that is gone: forget both, and
    // the version, so the next decision refreshes the record.
    CKrTraceData& record = *entry->pTraceData;
    for (KrTraceDataFieldInfo& field : record.m_fields) field.value = nullptr;
    record.FreeLongTexts();
    record.m_message.CleanUpMessage();
    record.m_pLogger = nullptr;
    record.m_iVersion = 0;
    entry->pNextHeld = nullptr;
    entry->heldKey = 0;
    return entry;
}

void TraceRecordPool::EmptyLocked()
{
    // Entries still held by a living thread stay: that thread gives them back
    // when it ends, and the next logger's threads reuse them.
    int kept = 0;
    for (int i = 0; i < m_iCount; ++i) {
        ThreadTraceData* entry = m_pEntries[i];
        if (entry->bFree.load(std::memory_order_acquire)) {
            delete entry->pTraceData;
            delete entry;
        } else {
            m_pEntries[kept++] = entry;
        }
    }
    m_iCount = kept;
    if (kept == 0) {
        delete[] m_pEntries;
        m_pEntries = nullptr;
    }
}

}  // namespace krerrlog
