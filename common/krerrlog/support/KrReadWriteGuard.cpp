#include <krerrlog/support/KrReadWriteGuard.h>

CKrReadWriteGuard::CKrReadWriteGuard()
{
    pthread_rwlockattr_t attributes;
    pthread_rwlockattr_init(&attributes);
    pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
    pthread_rwlock_init(&m_lock, &attributes);
    pthread_rwlockattr_destroy(&attributes);
}

CKrReadWriteGuard::~CKrReadWriteGuard() { pthread_rwlock_destroy(&m_lock); }

void CKrReadWriteGuard::LockForRead() { pthread_rwlock_rdlock(&m_lock); }
void CKrReadWriteGuard::LockForWrite() { pthread_rwlock_wrlock(&m_lock); }
void CKrReadWriteGuard::Unlock() { pthread_rwlock_unlock(&m_lock); }
