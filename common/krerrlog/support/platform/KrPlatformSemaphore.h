// Counting semaphore with timed waits: the waitable object behind CKrErrLogSemaphore.
#pragma once

#include <condition_variable>
#include <mutex>

namespace krerrlog {

class PlatformSemaphore {
public:
    PlatformSemaphore(long initialCount, long maximumCount);

    // 0 signalled (one count consumed), 1 timed out. kInfinite, and any
    // time longer than the clock can count from now, waits without limit.
    int Wait(unsigned long milliseconds);
    // Adds count (capped at the maximum); false when count is not positive or
    // would exceed the maximum, in which case nothing is added.
    bool Release(long count);
    long Count();
    // After fork, in the child: no count and no waiter (the parent's waiters
    // do not exist there); the mutex and condition are made anew.
    void ResetInChild();

    static constexpr unsigned long kInfinite = 0xFFFFFFFFul;

private:
    std::mutex m_mutex;
    std::condition_variable m_signalled;
    long m_count;
    long m_maximum;
};

}  // namespace krerrlog
