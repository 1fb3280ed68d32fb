// The process-wide reader-writer lock of the file outputs: writes hold it
// shared, a roll-over holds it exclusively from closing the old file until the
// new one is open with its headers. Waiting threads are served first in, first
// out, so a roll-over is never starved by writes that arrive after it. Holds
// are not re-entrant: taking it twice on one thread is a programming error and
// aborts the process.
#pragma once

#include <krerrlog/KrThreadAnnotations.h>
#include <krerrlog/support/internal/KrMutex.h>

#include <condition_variable>

namespace krerrlog {

class KRERRLOG_CAPABILITY("mutex") CFileRolloverLock {
public:
    // The lock shared by every file output of the process.
    static CFileRolloverLock& Process();

    CFileRolloverLock();
    ~CFileRolloverLock();
    CFileRolloverLock(const CFileRolloverLock&) = delete;
    CFileRolloverLock& operator=(const CFileRolloverLock&) = delete;

    void AcquireShared() KRERRLOG_ACQUIRE_SHARED();
    void ReleaseShared() KRERRLOG_RELEASE_SHARED();
    void AcquireExclusive() KRERRLOG_ACQUIRE();
    void ReleaseExclusive() KRERRLOG_RELEASE();

    // Across fork: held exclusively with its section, so the child finds no
    // thread of the parent inside; the child forgets the parent's waiters and
    // holds (which are on stacks and threads that do not exist there).
    void PrepareFork() KRERRLOG_ACQUIRE(this, m_section);
    void ParentAfterFork() KRERRLOG_RELEASE(this, m_section);
    void ChildAfterFork() KRERRLOG_RELEASE(this, m_section);

    // Numbers of holders and waiters (tests).
    int Readers();
    int Writers();
    int Waiting();

private:
    enum class Kind { None, Reader, Writer };

    // One waiting thread: its place in the queue and its wake-up event.
    // Waiters live on the waiting thread's stack, so queueing allocates nothing.
    struct Waiter {
        Kind kind;
        bool signalled = false;
        std::condition_variable event;
        Waiter* next = nullptr;
    };

    void Enqueue(Waiter& waiter) KRERRLOG_REQUIRES(m_section);
    void Dequeue(Waiter& waiter) KRERRLOG_REQUIRES(m_section);
    // Auto-reset wait: returns once signalled and clears the signal; the
    // section is given up while it waits and held again when it returns.
    void WaitFor(Waiter& waiter) KRERRLOG_REQUIRES(m_section);
    void SignalHead() KRERRLOG_REQUIRES(m_section);

    Kind HeldByThisThread() const;
    void RecordThisThread(Kind kind);

    Mutex m_section;
    int m_iReaders KRERRLOG_GUARDED_BY(m_section);
    int m_iWriters KRERRLOG_GUARDED_BY(m_section);
    int m_iWaiting KRERRLOG_GUARDED_BY(m_section);
    Waiter* m_pHead KRERRLOG_GUARDED_BY(m_section);
    Waiter* m_pTail KRERRLOG_GUARDED_BY(m_section);
};

// Scoped holds.
class KRERRLOG_SCOPED_CAPABILITY SharedRollover {
public:
    explicit SharedRollover(CFileRolloverLock& lock) KRERRLOG_ACQUIRE_SHARED(lock) : m_lock(lock)
    {
        m_lock.AcquireShared();
    }
    ~SharedRollover() KRERRLOG_RELEASE() { m_lock.ReleaseShared(); }
    SharedRollover(const SharedRollover&) = delete;
    SharedRollover& operator=(const SharedRollover&) = delete;

private:
    CFileRolloverLock& m_lock;
};

class KRERRLOG_SCOPED_CAPABILITY ExclusiveRollover {
public:
    explicit ExclusiveRollover(CFileRolloverLock& lock) KRERRLOG_ACQUIRE(lock) : m_lock(lock)
    {
        m_lock.AcquireExclusive();
    }
    ~ExclusiveRollover() KRERRLOG_RELEASE() { m_lock.ReleaseExclusive(); }
    ExclusiveRollover(const ExclusiveRollover&) = delete;
    ExclusiveRollover& operator=(const ExclusiveRollover&) = delete;

private:
    CFileRolloverLock& m_lock;
};

}  // namespace krerrlog
