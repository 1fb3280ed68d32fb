#include <krerrlog/support/platform/KrPlatformThread.h>

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace krerrlog {

unsigned long CurrentThreadId()
{
    // The kernel id never changes for a thread; one system call per thread.
    thread_local const unsigned long id = static_cast<unsigned long>(syscall(SYS_gettid));
    return id;
}

int CurrentProcessId() { return static_cast<int>(getpid()); }

void SleepMilliseconds(unsigned long milliseconds)
{
    timespec delay{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0) {
    }
}

}  // namespace krerrlog
