// Waitable objects: a base holding the handle, and the counting semaphore.
#pragma once

#include <krerrlog/KrExport.h>

namespace krerrlog {
class PlatformSemaphore;
}

class KRERRLOG_API CKrErrLogSyncBase {
public:
    ~CKrErrLogSyncBase();
    CKrErrLogSyncBase(const CKrErrLogSyncBase&) = delete;
    CKrErrLogSyncBase& operator=(const CKrErrLogSyncBase&) = delete;

    // Waits up to the given milliseconds; 0xFFFFFFFF, and any time longer
    // than the clock can count (such as (unsigned long)-1), without limit.
    // 0 signalled (a semaphore count is consumed), 1 timed out, -1 failed (no handle).
    int Wait(unsigned long milliseconds);
    // True when the object is signalled now; consumes a count like a wait.
    bool Test();
    // False when the platform's object could not be made.
    KRERRLOG_LOCAL bool HasHandle() const { return m_hHandle != nullptr; }

protected:
    CKrErrLogSyncBase();
    krerrlog::PlatformSemaphore* m_hHandle;
};

class KRERRLOG_API CKrErrLogSemaphore : public CKrErrLogSyncBase {
public:
    CKrErrLogSemaphore() = default;
    CKrErrLogSemaphore(long initialCount, long maximumCount, bool create);
    ~CKrErrLogSemaphore();

    // False when a semaphore is already held; otherwise creates one.
    bool Init(long initialCount, long maximumCount);
    void Release(long count);
    // After fork, in the child: empty, with no waiter.
    KRERRLOG_LOCAL void ResetInChild();
};
