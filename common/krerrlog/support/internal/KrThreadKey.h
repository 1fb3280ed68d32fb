// Thread keys (thread-local storage indexes) with a not-allocated state.
#pragma once

namespace krerrlog {
constexpr unsigned long kThreadKeyNotAllocated = 0xFFFFFFFFul;

// TlsAlloc: a new key, or kThreadKeyNotAllocated when none is left. A
// destructor, when given, runs at a thread's end for its value if not null.
unsigned long ThreadKeyAlloc(void (*destructor)(void*) = nullptr);
// TlsGetValue: the calling thread's value (null when never set or not allocated).
void* ThreadKeyGet(unsigned long key);
// TlsSetValue / TlsFree: false on a key that is not allocated.
bool ThreadKeySet(unsigned long key, void* value);
bool ThreadKeyFree(unsigned long key);
}  // namespace krerrlog

// Puts a thread-key variable into its not-allocated state.
void initializeThreadKey(unsigned long* key);
