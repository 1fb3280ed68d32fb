// How long a crash takes from the faulting instruction to the end of the
// process, with a 100-frame stack: the system alone, then the crash handler
// (stack listing, in-memory dump, ring flush). Each crash is a forked child;
// the child notes the time just before it faults, the parent when waitpid
// returns. Prints percentiles over the runs.
#include <krerrlog/crash/KrCrashHandler.h>
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/CKrFileOutput.h>
#include <krerrlog/output/CKrInMemoryOutput.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFrames = 100;
constexpr int kRuns = 50;

long long NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

std::atomic<long long>* g_faultTime = nullptr;
volatile int* volatile g_null = nullptr;

__attribute__((noinline)) int Descend(int depth)
{
    volatile char frame[32];
    frame[0] = static_cast<char>(depth);
    if (depth > 0) return Descend(depth - 1) + frame[0];
    g_faultTime->store(NowNs());
    *g_null = 1;
    return frame[0];
}

enum class Setup { SystemOnly, Handler, WithInMemory, WithRing, HandlerWithTraces };

void Child(Setup setup, const std::string& folder)
{
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (chdir(folder.c_str()) != 0) _exit(3);
    if (!freopen("/dev/null", "w", stdout)) _exit(3);  // "handling crash ..." goes nowhere
    if (setup != Setup::SystemOnly) {
        CKrLogger* logger = theLogger();
        logger->SetLogOutput(logger->NewLogOutput(0, "error.log", 3, 10, 5));
        std::string line(99, 'm');
        line += '\n';
        if (setup == Setup::WithInMemory || setup == Setup::HandlerWithTraces) {
            // 1 MB of in-memory trace.
            auto* memory = new CKrInMemoryOutput();
            memory->SetParams(1);
            memory->Open();
            for (int i = 0; i < 10000; ++i) memory->Log(line.c_str(), static_cast<int>(line.size()));
        }
        if (setup == Setup::WithRing || setup == Setup::HandlerWithTraces) {
            // 10,000 lines (1 MB) waiting in the ring of a buffered trace file.
            auto* trace = new CKrFileOutput();
            trace->SetParams("trace.log", KR_FILE_TRUNCATE, 100, 1, 8);
            trace->Open();
            trace->EnableBuffering(true);
            for (int i = 0; i < 10000; ++i) {
                CKrErrLogMessage message;
                message.SetFormattedMessage(line.c_str());
                trace->Log(message);
            }
        }
        setupSEGVHandler();
    }
    Descend(kFrames);
    _exit(2);
}

void Measure(const char* title, Setup setup)
{
    std::vector<double> ms;
    char folderTemplate[] = "/tmp/kr-crash-bench-XXXXXX";
    const std::string folder = mkdtemp(folderTemplate);
    for (int run = 0; run < kRuns; ++run) {
        g_faultTime->store(0);
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) Child(setup, folder);
        int status = 0;
        waitpid(child, &status, 0);
        const long long end = NowNs();
        if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGSEGV || g_faultTime->load() == 0) {
            std::printf("%s: run %d did not crash as planned (status %d)\n", title, run, status);
            continue;
        }
        ms.push_back(static_cast<double>(end - g_faultTime->load()) / 1e6);
    }
    std::string clean = "rm -rf " + folder;
    if (std::system(clean.c_str()) != 0) std::printf("could not remove %s\n", folder.c_str());
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    auto at = [&ms](double q) { return ms[std::min(ms.size() - 1, static_cast<size_t>(q * static_cast<double>(ms.size())))]; };
    std::printf("%-52s runs %3zu  min %7.3f  p50 %7.3f  p90 %7.3f  max %7.3f ms\n", title, ms.size(), ms.front(),
                at(0.5), at(0.9), ms.back());
}

}  // namespace

int main()
{
    void* shared = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) return 1;
    g_faultTime = new (shared) std::atomic<long long>(0);
    std::printf("Fault to process end, %d frames deep (forked children, no core files)\n", kFrames);
    Measure("no handler: the system alone", Setup::SystemOnly);
    Measure("crash handler: listing", Setup::Handler);
    Measure("crash handler: listing, 1 MB in-memory dump", Setup::WithInMemory);
    Measure("crash handler: listing, 1 MB left in the ring", Setup::WithRing);
    Measure("crash handler: listing, in-memory dump and ring", Setup::HandlerWithTraces);
    return 0;
}
