// Identity of the calling thread and process, starting threads, and work
// for the child of a fork.
#pragma once

namespace krerrlog {

// The kernel's id of the calling thread (GetCurrentThreadId).
unsigned long CurrentThreadId();
// The id of this process (_getpid).
int CurrentProcessId();
// Sleep for the given milliseconds (resumed when a signal cuts it short).
// Async-signal-safe.
void SleepMilliseconds(unsigned long milliseconds);

// Starts a thread that nobody joins, running routine(argument); its result is
// dropped. False when no thread could be started.
bool LaunchDetachedThread(void* (*routine)(void*), void* argument);

// Has handler run in the child of every later fork, by its only thread,
// before fork returns there. False when it cannot be registered.
bool CallInForkChild(void (*handler)());

}  // namespace krerrlog
