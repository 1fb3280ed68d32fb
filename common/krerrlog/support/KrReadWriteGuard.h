// The reader-writer lock the logger takes on its trace paths. Readers share it
// cheaply; a waiting writer is preferred over new readers, so a steady stream
// of trace calls cannot hold off a configuration change. It is the writers-first
// guard of KrErrLogGuard.h held by value: a reader counts itself in its own
// cache line instead of changing one shared word, so trace calls on many
// threads do not contend.
#pragma once

#include <krerrlog/KrThreadAnnotations.h>
#include <krerrlog/support/KrErrLogGuard.h>

class KRERRLOG_CAPABILITY("mutex") CKrReadWriteGuard {
public:
    CKrReadWriteGuard() = default;
    CKrReadWriteGuard(const CKrReadWriteGuard&) = delete;
    CKrReadWriteGuard& operator=(const CKrReadWriteGuard&) = delete;

    void LockForRead() KRERRLOG_ACQUIRE_SHARED();
    void LockForWrite() KRERRLOG_ACQUIRE();
    void Unlock() KRERRLOG_RELEASE_GENERIC();
    // False when the guard could not be made whole (no memory for its
    // semaphores): it would keep nobody out.
    bool HasState() const;
    // After fork, in the child: free.
    void ResetInChild();

private:
    CKrGuard m_guard;
};

class KRERRLOG_SCOPED_CAPABILITY CKrAutoReader {
public:
    CKrAutoReader() : m_pGuard(nullptr) {}
    explicit CKrAutoReader(CKrReadWriteGuard* guard) KRERRLOG_ACQUIRE_SHARED(guard) : m_pGuard(nullptr)
    {
        InitReadLockWithCKrReadWriteGuard(guard);
    }
    ~CKrAutoReader() KRERRLOG_RELEASE()
    {
        if (m_pGuard) m_pGuard->Unlock();
    }
    CKrAutoReader(const CKrAutoReader&) = delete;
    CKrAutoReader& operator=(const CKrAutoReader&) = delete;

    // Takes the guard for reading; a holder that already holds keeps its first hold.
    // Unseen by the analysis when called after construction, as the
    // CKrErrLogAutoReader's; the guard is taken through a pointer it cannot follow.
    void InitReadLockWithCKrReadWriteGuard(CKrReadWriteGuard* guard) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
    {
        if (m_pGuard || !guard) return;
        guard->LockForRead();
        m_pGuard = guard;
    }

private:
    CKrReadWriteGuard* m_pGuard;
};

class KRERRLOG_SCOPED_CAPABILITY CKrAutoWriter {
public:
    CKrAutoWriter() : m_pGuard(nullptr) {}
    explicit CKrAutoWriter(CKrReadWriteGuard* guard) KRERRLOG_ACQUIRE(guard) : m_pGuard(nullptr)
    {
        InitWriteLockWithCKrReadWriteGuard(guard);
    }
    ~CKrAutoWriter() KRERRLOG_RELEASE()
    {
        if (m_pGuard) m_pGuard->Unlock();
    }
    CKrAutoWriter(const CKrAutoWriter&) = delete;
    CKrAutoWriter& operator=(const CKrAutoWriter&) = delete;

    // As InitReadLockWithCKrReadWriteGuard.
    void InitWriteLockWithCKrReadWriteGuard(CKrReadWriteGuard* guard) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
    {
        if (m_pGuard || !guard) return;
        guard->LockForWrite();
        m_pGuard = guard;
    }

private:
    CKrReadWriteGuard* m_pGuard;
};
