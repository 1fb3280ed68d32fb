// Fork safety of the library's locks: a registry of the process-wide locks,
// taken in the library's lock order before fork and given back after it (in
// the parent) or left free (in the child, whose only thread is the forking one).
//
// A lock held by another thread at the moment of fork would stay held for ever
// in the child, and the counts of a reader-writer lock would still count the
// parent's readers. With every registered lock held by the forking thread
// across fork, the child finds each one in a known state: held by itself, with
// waiters (threads that do not exist in the child) queued behind it, which the
// child handler forgets.
//
// Joining: one call, made once per process-wide lock, when it is created:
//
//     krerrlog::RegisterForkSafeLock(krerrlog::kForkOrderRolloverCheck, lock);      // std::mutex and kin
//     krerrlog::RegisterForkSafeLock(order, &object, {&Hold, &Release, &Reset});   // anything else
//
// `order` is the lock's place in the library's lock order (the constants
// below): a lock that is taken while another is held must have the larger
// number. Locks are taken in ascending order in prepare and handled in
// descending order after fork. Registered locks are never unregistered: only
// process-wide objects that live until exit register (a container of
// short-lived locks, like the logger registry, registers itself once and
// handles its members in its own handlers). Registration allocates nothing.
//
// Not covered: a thread that calls fork while it holds one of these locks
// (from inside an output's callback, say) deadlocks in prepare.
#pragma once

#include <krerrlog/KrThreadAnnotations.h>

#include <mutex>

namespace krerrlog {

// Places in the lock order, with room between them for locks that join later.
enum ForkLockOrder : int {
    kForkOrderLoggerRegistry = 100,    // theLoggerList's guard, then the named loggers' guards
    kForkOrderProcessLogger = 200,     // theLogger()'s five guards, in their order
    kForkOrderTraceRecordPool = 300,   // the pool of per-thread trace records
    kForkOrderComponentLoader = 400,   // loading and unloading component libraries
    kForkOrderRingBufferWriter = 500,  // the ring buffer's writer lock
    kForkOrderRolloverCheck = 600,     // the file outputs' roll-over check lock
    kForkOrderRollover = 700,          // the file outputs' roll-over lock
    kForkOrderInMemoryArea = 800,      // the in-memory trace area
    kForkOrderConsole = 900,           // the console manager
    kForkOrderLeaf = 1000,             // locks under which no other lock is taken
};

struct ForkHandlers {
    void (*prepare)(void* lock);  // takes the lock, waiting as long as it must
    void (*parent)(void* lock);   // gives it back
    void (*child)(void* lock);    // leaves it free, forgetting the parent's other threads
};

// False when the registry is full (64 locks) or a handler is missing.
bool RegisterForkSafeLock(int order, void* lock, const ForkHandlers& handlers);

// Plain and recursive mutexes: held across fork; in the child the forking
// thread, which took them, releases them. The lambdas are unchecked: the hold
// spans the fork handlers.
template <typename Mutex>
bool RegisterForkSafeLock(int order, Mutex& mutex)
{
    static constexpr ForkHandlers handlers{
        [](void* m) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS { static_cast<Mutex*>(m)->lock(); },
        [](void* m) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS { static_cast<Mutex*>(m)->unlock(); },
        [](void* m) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS { static_cast<Mutex*>(m)->unlock(); },
    };
    return RegisterForkSafeLock(order, &mutex, handlers);
}

// Number of registered locks (tests).
int ForkSafeLockCount();

}  // namespace krerrlog
