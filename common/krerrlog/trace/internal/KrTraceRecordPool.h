// The process-wide pool of per-thread trace record holders and its lock.
// Every logger attaches to it in Init and detaches in Release; the lock is made
// once per process, and the pool is emptied only when the last logger detaches,
// so one logger's release never frees records another logger's threads hold.
// Entries only ever go back to the pool through the holding thread (at its end,
// see KrThreadTracePool.cpp), so an entry a thread still holds is never freed.
#pragma once

#include <krerrlog/support/KrErrLogCriticalSection.h>

struct ThreadTraceData;

namespace krerrlog {

class TraceRecordPool {
public:
    static constexpr int kGrowth = 30;

    static TraceRecordPool& Instance();

    void AttachLogger();
    void DetachLogger();

    // A free entry, its record's values, logger and version cleared (the
    // record is refreshed before its next use); the pool grows by kGrowth
    // entries when none is free. Null when it cannot grow.
    ThreadTraceData* Take();

    CKrErrLogCriticalSection& Lock() KRERRLOG_RETURN_CAPABILITY(m_lock) { return m_lock; }
    int AttachedLoggers();
    int EntryCount();
    int FreeEntryCount();

private:
    TraceRecordPool() = default;
    void EmptyLocked() KRERRLOG_REQUIRES(m_lock);
    bool GrowLocked() KRERRLOG_REQUIRES(m_lock);  // false, nothing changed, without memory

    // Last in the lock order: a logger's Init and Release attach and detach
    // with all five of its guards held for writing (CKrLogger::m_logGuard);
    // nothing is taken while it is held.
    CKrErrLogCriticalSection m_lock;
    int m_iLoggers KRERRLOG_GUARDED_BY(m_lock) = 0;
    ThreadTraceData** m_pEntries KRERRLOG_GUARDED_BY(m_lock) KRERRLOG_PT_GUARDED_BY(m_lock) = nullptr;
    int m_iCount KRERRLOG_GUARDED_BY(m_lock) = 0;
};

// Makes entry the calling thread's entry under loggerKey and lists it among the
// entries the thread gives back when it ends (KrThreadTracePool.cpp).
void HoldThreadTraceData(ThreadTraceData* entry, unsigned long loggerKey);

}  // namespace krerrlog
