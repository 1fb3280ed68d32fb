#include <krerrlog/support/platform/KrPlatformReadWriteLock.h>

#include <pthread.h>

namespace krerrlog {
namespace {
static_assert(sizeof(pthread_rwlock_t) <= kReadWriteLockBytes, "the lock does not fit its storage");
static_assert(alignof(pthread_rwlock_t) <= kReadWriteLockAlignment, "the lock's storage is not aligned enough");

pthread_rwlock_t* AsLock(void* storage) { return static_cast<pthread_rwlock_t*>(storage); }
}  // namespace

void ReadWriteLockInit(void* storage)
{
    pthread_rwlockattr_t attributes;
    pthread_rwlockattr_init(&attributes);
    pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
    pthread_rwlock_init(AsLock(storage), &attributes);
    pthread_rwlockattr_destroy(&attributes);
}

void ReadWriteLockDestroy(void* storage) { pthread_rwlock_destroy(AsLock(storage)); }
void ReadWriteLockRead(void* storage) { pthread_rwlock_rdlock(AsLock(storage)); }
void ReadWriteLockWrite(void* storage) { pthread_rwlock_wrlock(AsLock(storage)); }
void ReadWriteLockUnlock(void* storage) { pthread_rwlock_unlock(AsLock(storage)); }

}  // namespace krerrlog
