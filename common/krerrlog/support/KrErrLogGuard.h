// Reader-writer guards: any number of readers or one writer, writers first.
// A reader that arrives while a writer waits queues behind it; queued readers
// are let in together. The guards are not re-entrant, and a hold is given
// back by the thread that took it (as the scoped holders do).
//
// Readers take the guard without the critical section: a reader counts itself
// in its thread's reader slot (a cache line of its own, changed with a plain
// store, see KrReaderSlots.h) and checks the writer gate; only when the gate is closed does it back out
// and queue under the critical section. A writer closes the gate, then waits
// until the slots add up to 0. The gate stays closed from the first waiting
// writer until the last writer leaves, so waiting writers go before new readers.
#pragma once

#include <krerrlog/KrExport.h>
#include <krerrlog/KrThreadAnnotations.h>
#include <krerrlog/support/KrErrLogCriticalSection.h>
#include <krerrlog/support/KrErrLogSemaphore.h>

#include <atomic>

namespace krerrlog {
class ReaderSlots;
}

class KRERRLOG_API KRERRLOG_CAPABILITY("mutex") CKrGuard {
public:
    CKrGuard();
    ~CKrGuard();
    CKrGuard(const CKrGuard&) = delete;
    CKrGuard& operator=(const CKrGuard&) = delete;

    void LockForRead() KRERRLOG_ACQUIRE_SHARED();
    void LockForWrite() KRERRLOG_ACQUIRE();
    void Unlock() KRERRLOG_RELEASE_GENERIC();
    // After fork, in the child, whose only thread is the forking one: free,
    // with no reader, writer or waiter of the parent counted.
    KRERRLOG_LOCAL void ResetInChild();
    // False when a semaphore could not be made: the guard would not exclude.
    KRERRLOG_LOCAL bool HasSemaphores() const;

private:
    friend class CKrGuardTestPeer;
    friend class CKrErrLogGuard;  // keeps no state whose semaphores are missing

    void WaitUntilNoReaderInside();
    void ReaderEnters();
    void ReaderLeaves();
    int ReadersInside() const;

    CKrErrLogCriticalSection m_section;
    CKrErrLogSemaphore m_readers;
    CKrErrLogSemaphore m_writers;
    int m_iWaitingReaders KRERRLOG_GUARDED_BY(m_section);
    // Queued writers, and one closing the gate while readers leave.
    int m_iWaitingWriters KRERRLOG_GUARDED_BY(m_section);
    // -1 a writer holds the guard (or waits for readers to leave), 0 otherwise.
    int m_iActive KRERRLOG_GUARDED_BY(m_section);
    // Closed (1) from the first waiting writer until the last writer leaves;
    // changed only under m_section. Readers look without it: the acquire load
    // pairs with the release that opens it, the seq_cst pair (store, then the
    // reader's look after counting in) is the handshake of KrReaderSlots.h.
    std::atomic<int> m_writerGate;
    // The thread holding the write hold, or null. Relaxed: only the holding
    // thread stores its own id or clears it, so a thread compares equal only
    // with what it stored itself.
    std::atomic<const void*> m_pWriterThread;
    krerrlog::ReaderSlots* m_pReaderSlots;  // readers inside, by slot; null without memory for them
    // Readers inside when the slots could not be made: one counter changed
    // with fenced read-modify-writes, slower but as exact.
    std::atomic<int> m_iReadersWithoutSlots;
};

// The same guard with its state on the heap. Without memory for that state
// (or its semaphores) it holds none, and its operations do nothing.
class KRERRLOG_API KRERRLOG_CAPABILITY("mutex") CKrErrLogGuard {
public:
    CKrErrLogGuard();
    ~CKrErrLogGuard();
    CKrErrLogGuard(const CKrErrLogGuard&) = delete;

    void LockForRead() KRERRLOG_ACQUIRE_SHARED();
    void LockForWrite() KRERRLOG_ACQUIRE();
    void Unlock() KRERRLOG_RELEASE_GENERIC();
    bool HasState() const { return m_pState != nullptr; }
    KRERRLOG_LOCAL void ResetInChild()
    {
        if (m_pState) m_pState->ResetInChild();
    }

private:
    friend class CKrGuardTestPeer;

    CKrErrLogGuard& operator=(const CKrErrLogGuard&);
    CKrGuard* m_pState;
};

class KRERRLOG_API KRERRLOG_SCOPED_CAPABILITY CKrErrLogAutoReader {
public:
    CKrErrLogAutoReader();
    explicit CKrErrLogAutoReader(CKrErrLogGuard* guard) KRERRLOG_ACQUIRE_SHARED(guard);
    ~CKrErrLogAutoReader() KRERRLOG_RELEASE();
    CKrErrLogAutoReader(const CKrErrLogAutoReader&) = delete;
    CKrErrLogAutoReader& operator=(const CKrErrLogAutoReader&) = delete;

    // A hold taken after construction: the analysis does not see it, so code
    // that uses it is not checked (the constructor taking the guard is).
    void InitReadLockWithCKrErrLogGuard(CKrErrLogGuard* guard);

private:
    CKrErrLogGuard* m_pGuard;
};

class KRERRLOG_API KRERRLOG_SCOPED_CAPABILITY CKrErrLogAutoWriter {
public:
    CKrErrLogAutoWriter();
    explicit CKrErrLogAutoWriter(CKrErrLogGuard* guard) KRERRLOG_ACQUIRE(guard);
    ~CKrErrLogAutoWriter() KRERRLOG_RELEASE();
    CKrErrLogAutoWriter(const CKrErrLogAutoWriter&) = delete;
    CKrErrLogAutoWriter& operator=(const CKrErrLogAutoWriter&) = delete;

    // As InitReadLockWithCKrErrLogGuard, unseen by the analysis.
    void InitWriteLockWithCKrErrLogGuard(CKrErrLogGuard* guard);

private:
    CKrErrLogGuard* m_pGuard;
};
