// The reader-writer lock the logger takes on its trace paths. Readers share it
// cheaply; a waiting writer is preferred over new readers, so a steady stream
// of trace calls cannot hold off a configuration change.
#pragma once


class CKrReadWriteGuard {
public:
    CKrReadWriteGuard();
    ~CKrReadWriteGuard();
    CKrReadWriteGuard(const CKrReadWriteGuard&) = delete;
    CKrReadWriteGuard& operator=(const CKrReadWriteGuard&) = delete;

    void LockForRead();
    void LockForWrite();
    void Unlock();
    // After fork, in the child: made anew, free.
    void ResetInChild();

private:
    // The platform's lock, made in place; its size is checked where it is built.
    alignas(8) unsigned char m_lock[56];
};

class CKrAutoReader {
public:
    CKrAutoReader() : m_pGuard(nullptr) {}
    explicit CKrAutoReader(CKrReadWriteGuard* guard) : m_pGuard(nullptr) { InitReadLockWithCKrReadWriteGuard(guard); }
    ~CKrAutoReader()
    {
        if (m_pGuard) m_pGuard->Unlock();
    }
    CKrAutoReader(const CKrAutoReader&) = delete;
    CKrAutoReader& operator=(const CKrAutoReader&) = delete;

    // Takes the guard for reading; a holder that already holds keeps its first hold.
    void InitReadLockWithCKrReadWriteGuard(CKrReadWriteGuard* guard)
    {
        if (m_pGuard || !guard) return;
        guard->LockForRead();
        m_pGuard = guard;
    }

private:
    CKrReadWriteGuard* m_pGuard;
};

class CKrAutoWriter {
public:
    CKrAutoWriter() : m_pGuard(nullptr) {}
    explicit CKrAutoWriter(CKrReadWriteGuard* guard) : m_pGuard(nullptr) { InitWriteLockWithCKrReadWriteGuard(guard); }
    ~CKrAutoWriter()
    {
        if (m_pGuard) m_pGuard->Unlock();
    }
    CKrAutoWriter(const CKrAutoWriter&) = delete;
    CKrAutoWriter& operator=(const CKrAutoWriter&) = delete;

    void InitWriteLockWithCKrReadWriteGuard(CKrReadWriteGuard* guard)
    {
        if (m_pGuard || !guard) return;
        guard->LockForWrite();
        m_pGuard = guard;
    }

private:
    CKrReadWriteGuard* m_pGuard;
};
