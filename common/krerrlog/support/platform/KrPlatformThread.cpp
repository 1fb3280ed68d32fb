#include <krerrlog/support/platform/KrPlatformThread.h>

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace krerrlog {

namespace {

// The kernel id never changes for a thread: one system call per thread. The
// child of a fork() is another thread with the forking thread's storage, so
// its copy is forgotten there.
thread_local unsigned long t_threadId = 0;

void ForgetThreadIdInChild() { t_threadId = 0; }

}  // namespace

unsigned long CurrentThreadId()
{
    if (t_threadId == 0) {
        static const bool registered = CallInForkChild(&ForgetThreadIdInChild);
        (void)registered;
        t_threadId = static_cast<unsigned long>(syscall(SYS_gettid));
    }
    return t_threadId;
}

int CurrentProcessId() { return static_cast<int>(getpid()); }

void SleepMilliseconds(unsigned long milliseconds)
{
    timespec delay{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0) {
    }
}

bool LaunchDetachedThread(void* (*routine)(void*), void* argument)
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, routine, argument) == 0;
    pthread_attr_destroy(&attributes);
    return started;
}

bool CallInForkChild(void (*handler)()) { return pthread_atfork(nullptr, nullptr, handler) == 0; }

}  // namespace krerrlog
