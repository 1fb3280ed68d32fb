#include <krerrlog/crash/KrCrashHandler.h>

#include <krerrlog/crash/internal/KrCrashFiles.h>
#include <krerrlog/crash/internal/KrCrashGuard.h>
#include <krerrlog/crash/internal/KrCrashText.h>
#include <krerrlog/crash/internal/KrStackWalker.h>
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/output/internal/KrInMemoryDump.h>
#include <krerrlog/output/internal/KrTraceRingBuffer.h>
#include <krerrlog/support/platform/KrPlatformFiles.h>
#include <krerrlog/support/platform/KrPlatformThread.h>
#include <krerrlog/support/platform/crash/KrPlatformFaultSignals.h>
#include <krerrlog/support/platform/crash/KrPlatformPages.h>

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <mutex>

namespace krerrlog {

namespace {

// The listing of a deep stack stops at a frame boundary when this is full.
constexpr size_t kListingBytes = 64 * 1024;
// A second faulting thread waits this long for the first to end the process.
constexpr int kWaitForOtherCrashMs = 30000;

std::mutex g_setupLock;  // serialises setupSEGVHandler calls, never taken at a crash
StackWalker g_walker;
char* g_listing = nullptr;
// Crash in progress: the kernel id of the thread handling it, 0 before.
// Claimed once with acq_rel: only one thread handles a crash.
std::atomic<long> g_crashingThread{0};

void Say(int fd, const char* text) { WriteCrashBytes(fd, text, std::strlen(text)); }

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
        PlatformClose(fd);
        return;
    }
    CrashText listing(g_listing, kListingBytes);
    // A fault while reading a damaged stack keeps what was listed before it.
    RunGuarded([&listing, ucontext] { g_walker.List(ucontext, listing); });
    WriteCrashBytes(fd, listing.Data(), listing.Length());
    PlatformClose(fd);
}

void HandleCrash(int signal, const void* ucontext)
{
    Say(kStandardOutput, "handling crash ...\n");
    FlushBufferedTraceAtCrash();
    DumpInMemoryTraceAtCrash();
    if (IsAbortSignal(signal)) {
        Say(kStandardError, "Error: Unrecognized Exception\n");
        return;
    }
    WriteStackListing(ucontext);
}

void OnFault(int signal, const void* info, const void* ucontext)
{
    const int savedErrno = errno;
    const long self = CrashingThreadId();
    long handling = 0;
    if (!g_crashingThread.compare_exchange_strong(handling, self, std::memory_order_acq_rel)) {
        if (handling == self) {
            if (InCrashGuard()) siglongjmp(CrashGuardJump(), 1);
            AbortProcess();  // a fault inside the handler
        }
        // Another thread is handling its crash and will end the process.
        for (int waited = 0; waited < kWaitForOtherCrashMs; waited += 10) SleepMilliseconds(10);
        AbortProcess();
    }
    HandleCrash(signal, ucontext);
    RestorePreviousFaultHandlers();
    HandOnFault(signal, info);
    errno = savedErrno;
}

// What cannot be prepared (memory is short) leaves the stack file holding
// "noValue"; the traces are still saved.
void PrepareCrashPath()
{
    // The logger is made now, so that the crash only reads it.
    theLogger();
    if (!g_listing) g_listing = static_cast<char*>(AllocateCommittedPages(kListingBytes));
    PrepareCrashFiles();
    // Builds both names once: every call they make is bound and paged in.
    char name[kLongestPath];
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
    InstallFaultHandlers(&OnFault);
}
