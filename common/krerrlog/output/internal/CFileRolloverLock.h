// The process-wide reader-writer lock of the file outputs: writes hold it
// shared, a roll-over holds it exclusively from closing the old file until the
// new one is open with its headers. Waiting threads are served first in, first
// out, so a roll-over is never starved by writes that arrive after it. Holds
// are not re-entrant: taking it twice on one thread is a programming error and
// aborts the process.
#pragma once

#include <condition_variable>
#include <mutex>

namespace krerrlog {

class CFileRolloverLock {
public:
    // The lock shared by every file output of the process.
    static CFileRolloverLock& Process();

    CFileRolloverLock();
    ~CFileRolloverLock();
    CFileRolloverLock(const CFileRolloverLock&) = delete;
    CFileRolloverLock& operator=(const CFileRolloverLock&) = delete;

    void AcquireShared();
    void ReleaseShared();
    void AcquireExclusive();
    void ReleaseExclusive();

    // Across fork: held exclusively with its section, so the child finds no
    // thread of the parent inside; the child forgets the parent's waiters and
    // holds (which are on stacks and threads that do not exist there).
    void PrepareFork();
    void ParentAfterFork();
    void ChildAfterFork();

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

    void Enqueue(Waiter& waiter);
    void Dequeue(Waiter& waiter);
    // Auto-reset wait: returns once signalled and clears the signal.
    void WaitFor(Waiter& waiter, std::unique_lock<std::mutex>& held);
    void SignalHead();

    Kind HeldByThisThread() const;
    void RecordThisThread(Kind kind);

    std::mutex m_section;
    int m_iReaders;
    int m_iWriters;
    int m_iWaiting;
    Waiter* m_pHead;
    Waiter* m_pTail;
};

// Scoped holds.
class SharedRollover {
public:
    explicit SharedRollover(CFileRolloverLock& lock) : m_lock(lock) { m_lock.AcquireShared(); }
    ~SharedRollover() { m_lock.ReleaseShared(); }
    SharedRollover(const SharedRollover&) = delete;
    SharedRollover& operator=(const SharedRollover&) = delete;

private:
    CFileRolloverLock& m_lock;
};

class ExclusiveRollover {
public:
    explicit ExclusiveRollover(CFileRolloverLock& lock) : m_lock(lock) { m_lock.AcquireExclusive(); }
    ~ExclusiveRollover() { m_lock.ReleaseExclusive(); }
    ExclusiveRollover(const ExclusiveRollover&) = delete;
    ExclusiveRollover& operator=(const ExclusiveRollover&) = delete;

private:
    CFileRolloverLock& m_lock;
};

}  // namespace krerrlog
