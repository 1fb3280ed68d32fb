#include <krerrlog/support/KrReadWriteGuard.h>

namespace {
void InitWritersFirst(pthread_rwlock_t& lock)
{
    pthread_rwlockattr_t attributes;
    pthread_rwlockattr_init(&attributes);
    pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
    pthread_rwlock_init(&lock, &attributes);
    pthread_rwlockattr_destroy(&attributes);
}
}  // namespace

CKrReadWriteGuard::CKrReadWriteGuard() { InitWritersFirst(m_lock); }

// The old state counts the parent's queued readers and writers, threads that
// do not exist in the child; the forking thread held it for writing.
void CKrReadWriteGuard::ResetInChild() { InitWritersFirst(m_lock); }

CKrReadWriteGuard::~CKrReadWriteGuard() { pthread_rwlock_destroy(&m_lock); }

void CKrReadWriteGuard::LockForRead() { pthread_rwlock_rdlock(&m_lock); }
void CKrReadWriteGuard::LockForWrite() { pthread_rwlock_wrlock(&m_lock); }
void CKrReadWriteGuard::Unlock() { pthread_rwlock_unlock(&m_lock); }
