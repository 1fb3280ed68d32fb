// Reader-writer guards: any number of readers or one writer, writers first.
// A reader that arrives while a writer waits queues behind it; queued readers
// are let in together. The guards are not re-entrant.
#pragma once

#include <krerrlog/KrExport.h>
#include <krerrlog/support/KrErrLogCriticalSection.h>
#include <krerrlog/support/KrErrLogSemaphore.h>

class KRERRLOG_API CKrGuard {
public:
    CKrGuard();
    ~CKrGuard();
    CKrGuard(const CKrGuard&) = delete;
    CKrGuard& operator=(const CKrGuard&) = delete;

    void LockForRead();
    void LockForWrite();
    void Unlock();

private:
    friend class CKrGuardTestPeer;
    friend class CKrErrLogGuard;  // keeps no state whose semaphores are missing

    CKrErrLogCriticalSection m_section;
    CKrErrLogSemaphore m_readers;
    CKrErrLogSemaphore m_writers;
    int m_iWaitingReaders;
    int m_iWaitingWriters;
    int m_iActive;  // > 0 readers inside, -1 one writer inside, 0 free
};

// The same guard with its state on the heap. Without memory for that state
// (or its semaphores) it holds none, and its operations do nothing.
class KRERRLOG_API CKrErrLogGuard {
public:
    CKrErrLogGuard();
    ~CKrErrLogGuard();
    CKrErrLogGuard(const CKrErrLogGuard&) = delete;

    void LockForRead();
    void LockForWrite();
    void Unlock();
    bool HasState() const { return m_pState != nullptr; }

private:
    friend class CKrGuardTestPeer;

    CKrErrLogGuard& operator=(const CKrErrLogGuard&);
    CKrGuard* m_pState;
};

class KRERRLOG_API CKrErrLogAutoReader {
public:
    CKrErrLogAutoReader();
    explicit CKrErrLogAutoReader(CKrErrLogGuard* guard);
    ~CKrErrLogAutoReader();
    CKrErrLogAutoReader(const CKrErrLogAutoReader&) = delete;
    CKrErrLogAutoReader& operator=(const CKrErrLogAutoReader&) = delete;

    void InitReadLockWithCKrErrLogGuard(CKrErrLogGuard* guard);

private:
    CKrErrLogGuard* m_pGuard;
};

class KRERRLOG_API CKrErrLogAutoWriter {
public:
    CKrErrLogAutoWriter();
    explicit CKrErrLogAutoWriter(CKrErrLogGuard* guard);
    ~CKrErrLogAutoWriter();
    CKrErrLogAutoWriter(const CKrErrLogAutoWriter&) = delete;
    CKrErrLogAutoWriter& operator=(const CKrErrLogAutoWriter&) = delete;

    void InitWriteLockWithCKrErrLogGuard(CKrErrLogGuard* guard);

private:
    CKrErrLogGuard* m_pGuard;
};
