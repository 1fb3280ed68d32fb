#include <krerrlog/support/KrReadWriteGuard.h>

// The analysis sees the inner guard taken and this one declared: the two are
// one lock, which it cannot know.
void CKrReadWriteGuard::LockForRead() KRERRLOG_NO_THREAD_SAFETY_ANALYSIS { m_guard.LockForRead(); }
void CKrReadWriteGuard::LockForWrite() KRERRLOG_NO_THREAD_SAFETY_ANALYSIS { m_guard.LockForWrite(); }
void CKrReadWriteGuard::Unlock() KRERRLOG_NO_THREAD_SAFETY_ANALYSIS { m_guard.Unlock(); }
bool CKrReadWriteGuard::HasState() const { return m_guard.HasSemaphores(); }
void CKrReadWriteGuard::ResetInChild() { m_guard.ResetInChild(); }
