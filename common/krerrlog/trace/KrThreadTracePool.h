// The per-thread trace records: one pool entry per thread, logger and trace
// kind, taken from a process-wide pool on a thread's first traced call and
// given back when the thread ends.
#pragma once

#include <krerrlog/KrExport.h>

#include <atomic>

class CKrTraceData;

struct ThreadTraceData {
    CKrTraceData* pTraceData;  // owned by the pool, kept when the entry is given back
    // In the pool and held by no thread. Set with a release store by the
    // giving thread, read or claimed with acquire under the pool's lock, so the
    // pool sees the giver's last writes to the record before reusing or freeing it.
    std::atomic<bool> bFree;
    // Kept by the holding thread only: the next entry it holds and the thread
    // key it holds this one under, so that its end gives back every entry.
    ThreadTraceData* pNextHeld;
    unsigned long heldKey;
};

// Takes a free entry from the pool (growing it by 30 when none is free) with
// its record's values cleared; null when the pool cannot grow. The caller holds it until it gives it back by
// setting bFree; entries the logger hands to a thread go back when it ends.
KRERRLOG_API ThreadTraceData* GetThreadTraceData();
