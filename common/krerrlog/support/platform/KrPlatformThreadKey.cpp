// Thread keys as POSIX thread-specific data keys.
#include <krerrlog/support/internal/KrThreadKey.h>

#include <pthread.h>

void initializeThreadKey(unsigned long* key)
{
    if (key) *key = krerrlog::kThreadKeyNotAllocated;
}

namespace krerrlog {

unsigned long ThreadKeyAlloc(void (*destructor)(void*))
{
    pthread_key_t key;
    if (pthread_key_create(&key, destructor) != 0) return kThreadKeyNotAllocated;
    return static_cast<unsigned long>(key);
}

void* ThreadKeyGet(unsigned long key)
{
    if (key == kThreadKeyNotAllocated) return nullptr;
    return pthread_getspecific(static_cast<pthread_key_t>(key));
}

bool ThreadKeySet(unsigned long key, void* value)
{
    if (key == kThreadKeyNotAllocated) return false;
    return pthread_setspecific(static_cast<pthread_key_t>(key), value) == 0;
}

bool ThreadKeyFree(unsigned long key)
{
    if (key == kThreadKeyNotAllocated) return false;
    return pthread_key_delete(static_cast<pthread_key_t>(key)) == 0;
}

}  // namespace krerrlog
