#include <krerrlog/crash/KrCrashHandler.h>

#include <krerrlog/crash/internal/KrCrashFiles.h>
#include <krerrlog/crash/internal/KrCrashGuard.h>
#include <krerrlog/crash/internal/KrCrashText.h>
#include <krerrlog/crash/internal/KrStackWalker.h>
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/output/internal/KrInMemoryDump.h>
#include <krerrlog/output/internal/KrTraceRingBuffer.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace krerrlog {

namespace {

// Faults that get a stack listing, then the one that does not.
constexpr int kListedSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
constexpr int kHandledSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT};
constexpr size_t kHandledCount = sizeof kHandledSignals / sizeof kHandledSignals[0];

// The listing of a deep stack stops at a frame boundary when this is full.
constexpr size_t kListingBytes = 64 * 1024;
// The handler needs some 30 KiB (path buffers, the unwinder's frame states).
constexpr size_t kAltStackBytes = 256 * 1024;
// A second faulting thread waits this long for the first to end the process.
constexpr int kWaitForOtherCrashMs = 30000;

struct SavedAction {
    bool saved;
    struct sigaction previous;
};

std::mutex g_setupLock;  // serialises setupSEGVHandler calls, never taken at a crash
SavedAction g_saved[kHandledCount];
StackWalker g_walker;
char* g_listing = nullptr;
// Crash in progress: the kernel id of the thread handling it, 0 before.
// Claimed once with acq_rel: only one thread handles a crash.
std::atomic<pid_t> g_crashingThread{0};

pid_t ThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

void Say(int fd, const char* text) { WriteCrashBytes(fd, text, std::strlen(text)); }

bool IsListed(int signal)
{
    for (int listed : kListedSignals) {
        if (listed == signal) return true;
    }
    return false;
}

void SleepMs(long ms)
{
    timespec pause{ms / 1000, (ms % 1000) * 1000000};
    nanosleep(&pause, nullptr);
}

[[noreturn]] void AbortNow()
{
    struct sigaction fallback{};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGABRT, &fallback, nullptr);
    sigset_t abortOnly;
    sigemptyset(&abortOnly);
    sigaddset(&abortOnly, SIGABRT);
    sigprocmask(SIG_UNBLOCK, &abortOnly, nullptr);
    raise(SIGABRT);
    _exit(128 + SIGABRT);
}

void RestorePreviousHandlers()
{
    for (size_t i = 0; i < kHandledCount; ++i) {
        if (g_saved[i].saved) sigaction(kHandledSignals[i], &g_saved[i].previous, nullptr);
    }
}

// The buffered trace file's text still in the ring buffer goes out before
// the process dies. The writer lock is only tried: the writer thread may be
// writing a chunk (it is then waited for this long), or the crashed thread may
// hold it itself.
constexpr int kRingFlushWaitMs = 1000;

void FlushBufferedTraceAtCrash() { FlushTraceRingForCrash(kRingFlushWaitMs); }

void WriteStackListing(const void* ucontext)
{
    const int fd = OpenCrashFile(kDumpCrashStack);
    if (fd <= 0) return;  // no file, no listing
    if (!g_listing) {  // the buffer could not be had at setup
        Say(fd, StackWalker::kNoListing);
        ::close(fd);
        return;
    }
    CrashText listing(g_listing, kListingBytes);
    // A fault while reading a damaged stack keeps what was listed before it.
    RunGuarded([&listing, ucontext] { g_walker.List(ucontext, listing); });
    WriteCrashBytes(fd, listing.Data(), listing.Length());
    ::close(fd);
}

void HandleCrash(int signal, const void* ucontext)
{
    Say(STDOUT_FILENO, "handling crash ...\n");
    FlushBufferedTraceAtCrash();
    DumpInMemoryTraceAtCrash();
    if (!IsListed(signal)) {
        Say(STDERR_FILENO, "Error: Unrecognized Exception\n");
        return;
    }
    WriteStackListing(ucontext);
}

// After the handlers of before are back: a fault of the hardware happens
// again when the faulting instruction runs again on return, now into the old
// disposition, with the original context (and core dump). A signal that was
// sent, abort() and a breakpoint (which does not repeat) are raised anew.
void HandOn(int signal, const siginfo_t* info)
{
    const bool sent = !info || info->si_code <= 0;
    if (sent || signal == SIGABRT || signal == SIGTRAP) raise(signal);
}

void OnFault(int signal, siginfo_t* info, void* ucontext)
{
    const int savedErrno = errno;
    const pid_t self = ThreadId();
    pid_t handling = 0;
    if (!g_crashingThread.compare_exchange_strong(handling, self, std::memory_order_acq_rel)) {
        if (handling == self) {
            if (InCrashGuard()) siglongjmp(CrashGuardJump(), 1);
            AbortNow();  // a fault inside the handler
        }
        // Another thread is handling its crash and will end the process.
        for (int waited = 0; waited < kWaitForOtherCrashMs; waited += 10) SleepMs(10);
        AbortNow();
    }
    HandleCrash(signal, ucontext);
    RestorePreviousHandlers();
    HandOn(signal, info);
    errno = savedErrno;
}

// An alternate signal stack for the calling thread, unless it has one large
// enough already. Kept for the life of the process.
void EnsureAlternateStack()
{
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0) return;
    if (!(current.ss_flags & SS_DISABLE) && current.ss_size >= kAltStackBytes) return;
    void* memory = mmap(nullptr, kAltStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    stack_t mine{};
    mine.ss_sp = memory;
    mine.ss_size = kAltStackBytes;
    mine.ss_flags = 0;
    if (sigaltstack(&mine, nullptr) != 0) munmap(memory, kAltStackBytes);
}

// What cannot be prepared (memory is short) leaves the stack file holding
// "noValue"; the traces are still saved.
void PrepareCrashPath()
{
    // The logger is made now, so that the crash only reads it.
    theLogger();
    if (!g_listing) {
        void* memory = mmap(nullptr, kListingBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory != MAP_FAILED) {
            std::memset(memory, 0, kListingBytes);
            g_listing = static_cast<char*>(memory);
        }
    }
    PrepareCrashFiles();
    // Builds both names once: every call they make is bound and paged in.
    char name[PATH_MAX];
    CrashFileName(kDumpCrashStack, name, sizeof name);
    CrashFileName(kDumpAtCrash, name, sizeof name);
    g_walker.Prepare();
}

}  // namespace

}  // namespace krerrlog

void setupSEGVHandler()
{
    using namespace krerrlog;
    std::lock_guard<std::mutex> hold(g_setupLock);
    PrepareCrashPath();
    EnsureAlternateStack();
    struct sigaction mine{};
    mine.sa_sigaction = &OnFault;
    // SA_NODEFER: a fault inside the handler enters it again (and aborts)
    // rather than being blocked, which would end the process on the spot.
    mine.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&mine.sa_mask);
    for (size_t i = 0; i < kHandledCount; ++i) {
        struct sigaction previous{};
        if (sigaction(kHandledSignals[i], &mine, &previous) != 0) continue;
        const bool ours = (previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction == &OnFault;
        if (!ours && !g_saved[i].saved) {
            g_saved[i].previous = previous;
            g_saved[i].saved = true;
        }
    }
}
