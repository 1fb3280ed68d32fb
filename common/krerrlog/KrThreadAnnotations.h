// Lock annotations: which guard protects a member, which lock a function needs
// or takes, and the order the locks are taken in. Under clang they become its
// thread-safety attributes, checked with -Wthread-safety (the CMake option
// KRERRLOG_THREAD_SAFETY_ANALYSIS); elsewhere they expand to nothing.
//
// A class marked KRERRLOG_CAPABILITY is a lock; KRERRLOG_SCOPED_CAPABILITY
// marks a holder that takes a lock in its constructor and gives it back in its
// destructor. Where the analysis cannot follow the code (a lock chosen at run
// time, a hold taken after construction), the function says so with
// KRERRLOG_NO_THREAD_SAFETY_ANALYSIS and a comment.
#pragma once

#if defined(__clang__)
#define KRERRLOG_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KRERRLOG_THREAD_ANNOTATION(x)
#endif

// On a class: objects of it are locks ("mutex" names the kind in messages).
#define KRERRLOG_CAPABILITY(kind) KRERRLOG_THREAD_ANNOTATION(capability(kind))
// On a class: an RAII holder of one or more locks.
#define KRERRLOG_SCOPED_CAPABILITY KRERRLOG_THREAD_ANNOTATION(scoped_lockable)

// On a member: read only with the lock held (shared or exclusive), written
// only with it held exclusively.
#define KRERRLOG_GUARDED_BY(lock) KRERRLOG_THREAD_ANNOTATION(guarded_by(lock))
// On a pointer member: the same for what it points to.
#define KRERRLOG_PT_GUARDED_BY(lock) KRERRLOG_THREAD_ANNOTATION(pt_guarded_by(lock))

// On a lock member: the locks it is taken before (after) when both are held.
#define KRERRLOG_ACQUIRED_BEFORE(...) KRERRLOG_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define KRERRLOG_ACQUIRED_AFTER(...) KRERRLOG_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))

// On a function: the caller holds the locks exclusively (shared) on entry.
#define KRERRLOG_REQUIRES(...) KRERRLOG_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define KRERRLOG_REQUIRES_SHARED(...) KRERRLOG_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))

// On a function: it takes the locks (no argument on a lock's own member: the
// object itself) and returns holding them.
#define KRERRLOG_ACQUIRE(...) KRERRLOG_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define KRERRLOG_ACQUIRE_SHARED(...) KRERRLOG_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))

// On a function: it gives back locks held exclusively, shared, or either way.
#define KRERRLOG_RELEASE(...) KRERRLOG_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define KRERRLOG_RELEASE_SHARED(...) KRERRLOG_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define KRERRLOG_RELEASE_GENERIC(...) KRERRLOG_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))

// On a function returning bool: the locks are held when it returns the first
// argument (true or false).
#define KRERRLOG_TRY_ACQUIRE(...) KRERRLOG_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define KRERRLOG_TRY_ACQUIRE_SHARED(...) KRERRLOG_THREAD_ANNOTATION(try_acquire_shared_capability(__VA_ARGS__))

// On a function: the caller must not hold the locks (the function takes them).
#define KRERRLOG_EXCLUDES(...) KRERRLOG_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

// On a function: the calling thread holds the lock from here on, as far as
// the analysis knows (a hold it cannot see being taken).
#define KRERRLOG_ASSERT_CAPABILITY(lock) KRERRLOG_THREAD_ANNOTATION(assert_capability(lock))
#define KRERRLOG_ASSERT_SHARED_CAPABILITY(lock) KRERRLOG_THREAD_ANNOTATION(assert_shared_capability(lock))

// On a function: it returns a reference to this lock.
#define KRERRLOG_RETURN_CAPABILITY(lock) KRERRLOG_THREAD_ANNOTATION(lock_returned(lock))

// On a function: not checked. Say why in a comment beside it.
#define KRERRLOG_NO_THREAD_SAFETY_ANALYSIS KRERRLOG_THREAD_ANNOTATION(no_thread_safety_analysis)
