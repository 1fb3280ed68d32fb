#include <krerrlog/support/KrReadWriteGuard.h>
#include <krerrlog/support/platform/KrPlatformReadWriteLock.h>

static_assert(sizeof(CKrReadWriteGuard) >= krerrlog::kReadWriteLockBytes);
static_assert(alignof(CKrReadWriteGuard) >= krerrlog::kReadWriteLockAlignment);

CKrReadWriteGuard::CKrReadWriteGuard() { krerrlog::ReadWriteLockInit(m_lock); }

// The old state counts the parent's queued readers and writers, threads that
// do not exist in the child; the forking thread held it for writing.
void CKrReadWriteGuard::ResetInChild() { krerrlog::ReadWriteLockInit(m_lock); }

CKrReadWriteGuard::~CKrReadWriteGuard() { krerrlog::ReadWriteLockDestroy(m_lock); }

void CKrReadWriteGuard::LockForRead() { krerrlog::ReadWriteLockRead(m_lock); }
void CKrReadWriteGuard::LockForWrite() { krerrlog::ReadWriteLockWrite(m_lock); }
void CKrReadWriteGuard::Unlock() { krerrlog::ReadWriteLockUnlock(m_lock); }
