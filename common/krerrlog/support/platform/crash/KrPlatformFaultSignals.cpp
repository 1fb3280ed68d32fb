// Fault signals with sigaction, SA_ONSTACK and sigaltstack.
#include <krerrlog/support/platform/crash/KrPlatformFaultSignals.h>

#include <atomic>
#include <csignal>
#include <cstddef>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace krerrlog {

namespace {

// Faults that get a stack listing, then the one that does not.
constexpr int kHandledSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT};
constexpr size_t kHandledCount = sizeof kHandledSignals / sizeof kHandledSignals[0];

// The handler needs some 30 KiB (path buffers, the unwinder's frame states).
constexpr size_t kAltStackBytes = 256 * 1024;

struct SavedAction {
    bool saved;
    struct sigaction previous;
};

SavedAction g_saved[kHandledCount];
// Stored with release before the handlers are installed, loaded with acquire
// in the signal: a signal never finds the handler half set.
std::atomic<FaultHandler> g_handler{nullptr};

void OnSignal(int signal, siginfo_t* info, void* ucontext)
{
    if (const FaultHandler handler = g_handler.load(std::memory_order_acquire)) handler(signal, info, ucontext);
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

}  // namespace

void InstallFaultHandlers(FaultHandler handler)
{
    g_handler.store(handler, std::memory_order_release);
    EnsureAlternateStack();
    struct sigaction mine{};
    mine.sa_sigaction = &OnSignal;
    // SA_NODEFER: a fault inside the handler enters it again (and aborts)
    // rather than being blocked, which would end the process on the spot.
    mine.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&mine.sa_mask);
    for (size_t i = 0; i < kHandledCount; ++i) {
        struct sigaction previous{};
        if (sigaction(kHandledSignals[i], &mine, &previous) != 0) continue;
        const bool ours = (previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction == &OnSignal;
        if (!ours && !g_saved[i].saved) {
            g_saved[i].previous = previous;
            g_saved[i].saved = true;
        }
    }
}

void RestorePreviousFaultHandlers()
{
    for (size_t i = 0; i < kHandledCount; ++i) {
        if (g_saved[i].saved) sigaction(kHandledSignals[i], &g_saved[i].previous, nullptr);
    }
}

bool IsAbortSignal(int signal) { return signal == SIGABRT; }

void HandOnFault(int signal, const void* info)
{
    const bool sent = !info || static_cast<const siginfo_t*>(info)->si_code <= 0;
    if (sent || signal == SIGABRT || signal == SIGTRAP) raise(signal);
}

[[noreturn]] void AbortProcess()
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

long CrashingThreadId() { return static_cast<long>(syscall(SYS_gettid)); }

}  // namespace krerrlog
