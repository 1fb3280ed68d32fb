// The program of the crash tests: run with "--crash-child <scenario> <folder>"
// it sets up an error log, an in-memory trace and the crash handler in that
// folder and then crashes as the scenario says; otherwise it runs the tests,
// which start it again as a child process for each crash.
#include "CrashTestSupport.h"

#include <krerrlog/crash/KrCrashHandler.h>
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/CKrFileOutput.h>
#include <krerrlog/output/CKrInMemoryOutput.h>
#include <krerrlog/output/internal/KrInMemoryTraceArea.h>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace krerrlog {
// Reaches the in-memory area's locks, to hold them while the process crashes.
class InMemoryTraceAreaTestPeer {
public:
    static krerrlog::Mutex& AreaLock() { return InMemoryTraceArea::Process().m_areaLock; }
    static krerrlog::Mutex& TextLock() { return InMemoryTraceArea::Process().m_textLock; }
};
}  // namespace krerrlog

// The crashing functions have C names, so that the listing, gdb and the test
// name them alike; the sanitizers must not catch the faults first.
#define CRASH_FUNCTION extern "C" __attribute__((noinline, used, no_sanitize("undefined", "address")))

CRASH_FUNCTION void KrCrashNullWrite(volatile int* where)
{
    *where = 1;
}

CRASH_FUNCTION int KrCrashDivide(int divisor)
{
    volatile int by = divisor;
    return 100 / by;
}

CRASH_FUNCTION int KrCrashRecurse(int depth, volatile int* where)
{
    volatile char frame[64];
    frame[0] = static_cast<char>(depth);
    if (depth > 0) return KrCrashRecurse(depth - 1, where) + frame[0];
    KrCrashNullWrite(where);
    return frame[0];
}

volatile bool g_recurseForever = true;

CRASH_FUNCTION int KrCrashOverflow(int depth)
{
    volatile char frame[256];
    frame[depth & 255] = static_cast<char>(depth);
    return g_recurseForever ? KrCrashOverflow(depth + 1) + frame[0] : 0;
}

// Faults with the stack pointer on an unmapped page: the stack cannot be
// walked past this frame.
CRASH_FUNCTION void KrCrashSmashedStack()
{
#if defined(__x86_64__)
    asm volatile("movq $64, %%rsp\n\tmovl $1, 0" ::: "memory");
#endif
}

// A breakpoint instruction: it does not repeat when the handler returns.
CRASH_FUNCTION void KrCrashBreakpoint()
{
#if defined(__x86_64__)
    asm volatile("int3" ::: "memory");
#endif
}

CRASH_FUNCTION void KrCrashThrow()
{
    throw std::runtime_error("never caught");
}

namespace {

using namespace krtest;

// Stored lines of the in-memory trace: the parent finds them in the dump.
void FillInMemoryTrace(const std::string& folder)
{
    auto* output = new CKrInMemoryOutput();
    output->SetParams(1);
    output->SetInMemoryTraceFilePath((folder + "/").c_str());
    if (!output->Open()) std::_Exit(3);
    for (int i = 0; i < kInMemoryLines; ++i) {
        const std::string line = InMemoryLine(i);
        output->Log(line.c_str(), static_cast<int>(line.size()));
    }
}

void HostHandler(int signal)
{
    const char text[] = "host handler ran\n";
    (void)!write(STDOUT_FILENO, text, sizeof text - 1);
    std::signal(signal, SIG_DFL);  // the fault repeats on return and ends the process
}

// Waits until a started helper thread is running its loop.
void StartAndWait(std::atomic<int>& started, std::thread worker)
{
    worker.detach();
    while (started.load() == 0) std::this_thread::yield();
}

std::atomic<int> g_started{0};

__attribute__((noinline)) int RunScenario(const std::string& scenario, volatile int* null)
{
    // The addresses of the crashing functions, for the parent to compare
    // with the listing.
    std::printf("KrCrashNullWrite=%p\nKrCrashRecurse=%p\n", reinterpret_cast<void*>(&KrCrashNullWrite),
                reinterpret_cast<void*>(&KrCrashRecurse));
    std::fflush(stdout);
    if (scenario == "null") KrCrashNullWrite(null);
    if (scenario == "divide") return KrCrashDivide(0);
    if (scenario == "overflow") return KrCrashOverflow(0);
    if (scenario == "abort") std::abort();
    if (scenario == "terminate") KrCrashThrow();
    if (scenario == "deep") return KrCrashRecurse(kDeepFrames, null);
    if (scenario == "very-deep") return KrCrashRecurse(kVeryDeepFrames, null);
    if (scenario == "trap") __builtin_trap();
    if (scenario == "smashed-stack") KrCrashSmashedStack();
    if (scenario == "breakpoint") KrCrashBreakpoint();
    if (scenario == "sent") raise(SIGBUS);
    if (scenario == "malloc-busy") {
        StartAndWait(g_started, std::thread([] {
            for (;;) {
                void* block = std::malloc(static_cast<size_t>(g_started.fetch_add(1) % 4096) + 1);
                std::free(block);
            }
        }));
        KrCrashNullWrite(null);
    }
    if (scenario == "area-locked") {
        StartAndWait(g_started, std::thread([] {
            std::lock_guard<krerrlog::Mutex> area(krerrlog::InMemoryTraceAreaTestPeer::AreaLock());
            std::lock_guard<krerrlog::Mutex> text(krerrlog::InMemoryTraceAreaTestPeer::TextLock());
            g_started = 1;
            for (;;) pause();
        }));
        KrCrashNullWrite(null);
    }
    if (scenario == "self-locked") {
        krerrlog::InMemoryTraceAreaTestPeer::AreaLock().lock();
        KrCrashNullWrite(null);
    }
    if (scenario == "ring") {
        // A buffered trace file fed by another thread; the writer thread
        // drains it only every 10 seconds, so the lines are still in the ring.
        static CKrFileOutput trace;
        trace.SetParams("trace.log", KR_FILE_TRUNCATE, 100, 1, 8);
        if (!trace.Open()) return 3;
        trace.EnableBuffering(true);
        static std::atomic<int> logged{0};
        StartAndWait(logged, std::thread([] {
            for (int i = 0;; ++i) {
                CKrErrLogMessage message;
                message.SetFormattedMessage(RingLine(i).c_str());
                trace.Log(message);
                logged.store(i + 1);
                if (i % 64 == 63) std::this_thread::yield();
            }
        }));
        while (logged.load() < kRingLinesBeforeCrash) std::this_thread::yield();
        std::printf("logged=%d\n", logged.load());  // every one of these is in the file
        std::fflush(stdout);
        KrCrashNullWrite(null);
    }
    if (scenario == "two-threads") {
        // Both threads fault at once: one writes the files, the other waits.
        std::thread([null] { KrCrashNullWrite(null); }).detach();
        KrCrashNullWrite(null);
    }
    return 2;  // the scenario did not crash
}

__attribute__((noinline)) int RunCrashChild(const std::string& scenario, const std::string& folder)
{
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (chdir(folder.c_str()) != 0) return 3;
    if (scenario == "host-handler") {
        std::signal(SIGSEGV, &HostHandler);
    }
    CKrLogger* logger = theLogger();
    if (scenario != "no-error-log") {
        logger->SetLogOutput(logger->NewLogOutput(0, (folder + "/error.log").c_str(), 3, 10, 5));
    }
    FillInMemoryTrace(folder);
    setupSEGVHandler();
    static volatile int* null = nullptr;
    const bool plainNull = scenario == "host-handler" || scenario == "no-error-log";
    return RunScenario(plainNull ? "null" : scenario, null);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], kChildFlag) == 0) return RunCrashChild(argv[2], argv[3]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
