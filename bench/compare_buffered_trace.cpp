// Buffered tracing side by side, in one run: the library's trace path through
// KrTracing into a rolling file in buffered mode, spdlog's asynchronous logger
// on a rotating sink, and bare 64 KiB write() calls of the same bytes (the
// physical limit). spdlog is a comparison only; the library never uses it.
//
// Reports, for 1 and 2 producer threads:
//   - producer ns per line (a loop of calls, the ring or queue big enough that
//     no producer waits for the consumer) and heap allocations per line;
//   - the distribution of single calls (each call timed with the TSC): p50,
//     p99, p99.9, max;
//   - end to end: lines per second until the last line is in the rolling file
//     (16 MB files, 3 backups; the default 8 MB ring, spdlog's default queue).
// The library's line has six fields (Date, PreciseTime, Pid, User, Realm,
// Message): the producer lays it out and reads the clock. spdlog gets the
// finished line as its message with the pattern "%v", so its producer cost
// holds no layout. A further row times CKrFileOutput::Log alone with the
// finished line: the cost of the ring itself. `--producer-only` runs the
// library's producer path alone, for perf record.
#include <krerrlog/krerrlog.h>
#include <krerrlog/output/CKrFileOutput.h>

#include "testsupport/AllocationCounter.h"
#include "testsupport/LoggerTestPeer.h"

#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <fcntl.h>
#include <unistd.h>
#include <x86intrin.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLimitMB = 16;
constexpr int kBackups = 3;
constexpr int kLatencyLines = 200000;     // per thread, for the loop and the single-call runs
constexpr int kEndToEndLines = 2000000;   // per producer thread
constexpr int kLatencyRingMB = 128;       // holds every line of the latency runs
constexpr size_t kLatencyQueue = 1 << 19;  // spdlog's queue for the same runs

std::string g_folder;

// ---- Timing ----

double NsPerTick()
{
    static const double value = [] {
        const auto t0 = Clock::now();
        const unsigned long long c0 = __rdtsc();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const unsigned long long c1 = __rdtsc();
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
        return ns / static_cast<double>(c1 - c0);
    }();
    return value;
}

struct Distribution {
    double p50, p99, p999, max;
};

Distribution Percentiles(std::vector<uint32_t>& ticks)
{
    std::sort(ticks.begin(), ticks.end());
    auto at = [&](double q) { return ticks[static_cast<size_t>(q * static_cast<double>(ticks.size() - 1))] * NsPerTick(); };
    return {at(0.50), at(0.99), at(0.999), ticks.back() * NsPerTick()};
}

// Runs body(thread index) on `threads` threads started together; returns the
// seconds from the start signal until all have returned.
double RunThreads(int threads, const std::function<void(int)>& body)
{
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            ++ready;
            while (!go.load()) {
            }
            body(t);
        });
    }
    while (ready.load() != threads) {
    }
    const auto start = Clock::now();
    go = true;
    for (auto& w : workers) w.join();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---- The library ----

const char* const kUser = "uid=alice,ou=people,dc=example,dc=com";
const char* const kRealm = "/protected/finance/reports";
unsigned int g_component = 0;

void TraceOneLine()
{
    KrTracing trace;
    if (!trace.BeginEx()) return;
    trace.AddComp(g_component);
    if (trace.NeedTracing()) {
        trace.SetData(9u, kUser);
        trace.SetData(12u, kRealm);
        trace.SetMsg("Resource is protected, challenge issued");
    }
    trace.Done("KrPolicyAgent.cpp", 812);
}

unsigned int ComponentId(const char* name)
{
    int count = 0;
    const KrTraceComponentInfo* info = CKrLoggerTestPeer::ComponentInfo(*theLogger(), count);
    for (int i = 0; i < count; ++i) {
        if (info[i].name && std::strcmp(info[i].name, name) == 0) return info[i].id;
    }
    return 0;
}

std::string g_config;

// Starts a buffered trace into name with a ring of ringMB megabytes.
CKrFileOutput* StartTrace(const std::string& name, int ringMB)
{
    CKrLogger* logger = theLogger();
    CKrLogOutput* output = logger->NewLogOutput(1, (g_folder + "/" + name).c_str(), 3, kLimitMB, kBackups, ringMB);
    if (!output || !logger->EnableTrace(output, 0, nullptr, g_config.c_str(), false, false, true) ||
        !output->IsBufferingEnabled()) {
        std::fprintf(stderr, "buffered trace not started\n");
        std::exit(1);
    }
    return static_cast<CKrFileOutput*>(output);
}

void StopTrace() { theLogger()->DisableTrace(false); }

// ---- spdlog ----

struct AsyncSpdlog {
    std::shared_ptr<spdlog::details::thread_pool> pool;
    std::shared_ptr<spdlog::async_logger> logger;

    AsyncSpdlog(const std::string& name, size_t queue)
    {
        pool = std::make_shared<spdlog::details::thread_pool>(queue, 1);
        auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            g_folder + "/" + name + ".log", static_cast<size_t>(kLimitMB) << 20, kBackups);
        logger = std::make_shared<spdlog::async_logger>(name, sink, pool, spdlog::async_overflow_policy::block);
        logger->set_pattern("%v", spdlog::pattern_time_type::local);
    }
    // Returns when every queued line has been written and the file closed.
    void Finish()
    {
        logger.reset();
        pool.reset();  // joins the worker after it has emptied the queue
    }
};

// ---- Report ----

void Row(const char* what, int threads, double nsPerLine, double allocs, const Distribution* d)
{
    std::printf("%-44s %d  %9.1f", what, threads, nsPerLine);
    if (allocs >= 0) {
        std::printf("  %6.2f", allocs);
    } else {
        std::printf("  %6s", "-");
    }
    if (d) std::printf("  %8.0f %8.0f %8.0f %10.0f", d->p50, d->p99, d->p999, d->max);
    std::printf("\n");
}

void RemoveTraceFiles()
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(g_folder, ignored)) {
        if (entry.path().extension() == ".log") std::filesystem::remove(entry.path(), ignored);
    }
}

// One producer row: kLatencyLines calls per thread as a loop (mean ns and heap
// allocations per call), then one by one, each timed with the TSC. makeCall()
// gives each thread its own call (a concrete lambda, so that nothing but the
// call itself is timed); between() runs after the loop, end() after the
// single calls.
template <typename MakeCall, typename Between, typename End>
void ProducerRow(const char* what, int threads, MakeCall makeCall, Between between, End end)
{
    std::atomic<long> allocations{0};
    const double seconds = RunThreads(threads, [&](int) {
        auto call = makeCall();
        const long before = krtest::AllocationsOnThisThread();
        for (int i = 0; i < kLatencyLines; ++i) call();
        allocations += krtest::AllocationsOnThisThread() - before;
    });
    between();
    std::vector<std::vector<uint32_t>> ticks(static_cast<size_t>(threads), std::vector<uint32_t>(kLatencyLines));
    RunThreads(threads, [&](int t) {
        auto call = makeCall();
        uint32_t* out = ticks[static_cast<size_t>(t)].data();
        for (int i = 0; i < kLatencyLines; ++i) {
            const unsigned long long c0 = __rdtsc();
            call();
            out[i] = static_cast<uint32_t>(__rdtsc() - c0);
        }
    });
    end();
    std::vector<uint32_t> all;
    for (auto& v : ticks) all.insert(all.end(), v.begin(), v.end());
    const Distribution d = Percentiles(all);
    Row(what, threads, seconds * 1e9 / kLatencyLines,
        static_cast<double>(allocations.load()) / (static_cast<double>(kLatencyLines) * threads), &d);
    RemoveTraceFiles();
}

// One end-to-end row: seconds from the start until finish() returns with every
// line in the file, as lines and megabytes per second and as a share of
// write(); stop() runs after the timing.
template <typename Call, typename Finish, typename Stop>
void EndToEndRow(const char* what, int threads, double lineBytes, double writeLinesPerSecond, Call call, Finish finish,
                 Stop stop)
{
    const double lines = static_cast<double>(kEndToEndLines) * threads;
    const auto start = Clock::now();
    RunThreads(threads, [&](int) {
        for (int i = 0; i < kEndToEndLines; ++i) call();
    });
    finish();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop();
    std::printf("%-44s %d  %12.0f  %9.0f  %6.0f%%\n", what, threads, lines / seconds, lines * lineBytes / seconds / 1e6,
                100.0 * lines / seconds / writeLinesPerSecond);
    RemoveTraceFiles();
}

}  // namespace

int main(int argc, char** argv)
{
    const char* base = std::getenv("TMPDIR");
    g_folder = std::string(base && *base ? base : "/tmp") + "/krerrlog-ring-bench-XXXXXX";
    if (!mkdtemp(g_folder.data())) return 1;
    g_config = g_folder + "/trace.conf";
    std::ofstream(g_config) << "components: Log/Legacy\ndata: Date, PreciseTime, Pid, User, Realm, Message\n";
    g_component = ComponentId("Log/Legacy");

    // The finished line, as the trace writes it, for spdlog and write().
    std::string line;
    {
        CKrFileOutput* output = StartTrace("sample.log", 1);
        for (int i = 0; i < 3; ++i) TraceOneLine();
        output->Flush();
        StopTrace();
        std::ifstream in(g_folder + "/sample.log");
        for (std::string text; std::getline(in, text);) line = text;  // the last: a traced line, not a header
        RemoveTraceFiles();
    }
    if (argc > 1 && std::strcmp(argv[1], "--producer-only") == 0) {
        // For profiling (perf record): the library's producer path alone.
        CKrFileOutput* output = StartTrace("lib.log", kLatencyRingMB);
        for (int i = 0; i < kLatencyLines * 5; ++i) {
            TraceOneLine();
            if (i % kLatencyLines == 0) output->Flush();
        }
        StopTrace();
        std::error_code ignored;
        std::filesystem::remove_all(g_folder, ignored);
        return 0;
    }
    std::printf("trace line: %zu bytes: %s\n", line.size() + 1, line.c_str());
    std::printf("TSC: %.4f ns per tick\n\n", NsPerTick());
    std::printf("%-44s %s  %9s  %6s  %8s %8s %8s %10s\n", "producer (per call, ns)", "T", "mean", "allocs", "p50",
                "p99", "p99.9", "max");

    const std::string lineWithNewline = line + "\n";
    for (int threads : {1, 2}) {
        // The library: the real trace path.
        CKrFileOutput* traced = StartTrace("lib.log", kLatencyRingMB);
        ProducerRow(
            "krerrlog KrTracing, buffered (layout+clock)", threads, [] { return [] { TraceOneLine(); }; },
            [&] { traced->Flush(); }, [] { StopTrace(); });
        {
            // The ring alone: CKrFileOutput::Log with the finished line.
            CKrFileOutput output;
            if (!output.SetParams((g_folder + "/ring.log").c_str(), 3, kLimitMB, kBackups, kLatencyRingMB) ||
                !output.Open()) {
                return 1;
            }
            output.EnableBuffering(true);
            ProducerRow(
                "krerrlog CKrFileOutput::Log, buffered", threads,
                [&] {
                    auto message = std::make_unique<CKrErrLogMessage>(false);
                    message->SetFormattedMessage(lineWithNewline.c_str());
                    return [&output, message = std::move(message)] { output.Log(*message); };
                },
                [&] { output.Flush(); }, [&] { output.Close(); });
        }
        // spdlog's asynchronous logger, queue big enough for every line; a
        // fresh one for the single calls.
        std::optional<AsyncSpdlog> spd(std::in_place, "spdlog-latency", kLatencyQueue);
        const spdlog::string_view_t text(line);
        ProducerRow(
            "spdlog async_logger, rotating sink (no layout)", threads,
            [&] { return [&] { spd->logger->log(spdlog::level::info, text); }; },
            [&] {
                spd->Finish();
                spd.emplace("spdlog-latency2", kLatencyQueue);
            },
            [&] { spd->Finish(); });
    }

    std::printf("\n%-44s %s  %12s  %9s  %s\n", "end to end, into a rolling file", "T", "lines/s", "MB/s",
                "(of 64 KiB write())");
    const double lineBytes = static_cast<double>(lineWithNewline.size());
    // The physical limit: the same bytes in 64 KiB write() calls, one thread.
    double writeLinesPerSecond = 0;
    {
        std::string block;
        while (block.size() + lineWithNewline.size() <= 65536) block += lineWithNewline;
        const int fd = open((g_folder + "/bare.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const double totalBytes = lineBytes * kEndToEndLines * 2;
        const auto start = Clock::now();
        double written = 0, sinceTruncate = 0;
        while (written < totalBytes) {
            if (write(fd, block.data(), block.size()) < 0) return 1;
            written += static_cast<double>(block.size());
            sinceTruncate += static_cast<double>(block.size());
            if (sinceTruncate >= static_cast<double>(kLimitMB << 20)) {
                if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) return 1;
                sinceTruncate = 0;
            }
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        close(fd);
        writeLinesPerSecond = written / lineBytes / seconds;
        std::printf("%-44s %d  %12.0f  %9.0f  %6.0f%%\n", "write() of 64 KiB blocks", 1, writeLinesPerSecond,
                    written / seconds / 1e6, 100.0);
        RemoveTraceFiles();
    }
    for (int threads : {1, 2}) {
        CKrFileOutput* traced = StartTrace("lib-e2e.log", 8);
        EndToEndRow("krerrlog KrTracing, buffered, 8 MB ring", threads, lineBytes, writeLinesPerSecond,
                    [] { TraceOneLine(); }, [&] { traced->Flush(); },  // every line is copied: this writes the rest
                    [] { StopTrace(); });
        AsyncSpdlog spd("spdlog-e2e", 8192);
        const spdlog::string_view_t text(line);
        EndToEndRow("spdlog async_logger, rotating sink, queue 8192", threads, lineBytes, writeLinesPerSecond,
                    [&] { spd.logger->log(spdlog::level::info, text); }, [&] { spd.Finish(); }, [] {});
    }
    spdlog::shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
    return 0;
}
