// Identity of the calling thread and process.
#pragma once

namespace krerrlog {

// The kernel's id of the calling thread (GetCurrentThreadId).
unsigned long CurrentThreadId();
// The id of this process (_getpid).
int CurrentProcessId();
// Sleep for the given milliseconds.
void SleepMilliseconds(unsigned long milliseconds);

}  // namespace krerrlog
