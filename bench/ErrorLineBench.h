// The error-line benchmarks shared by bench_error_lines and the comparison
// program: the same ~120-byte line (prolog and text) through LogErrMsg into a
// rolling file, and through bare write() calls, the physical limit of the path.
#pragma once

#include <krerrlog/krerrlog.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace krbench {

// Rolling files: 16 MB, 3 backups, in a folder of their own.
constexpr int kLimitMB = 16;
constexpr int kBackups = 3;

inline const std::string& BenchFolder()
{
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string path = std::string(base && *base ? base : "/tmp") + "/krerrlog-bench-XXXXXX";
        if (!mkdtemp(path.data())) std::abort();
        return path;
    }();
    return folder;
}

inline void RemoveBenchFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(BenchFolder(), ignored);
}

// A realistic error line: the prolog, a severity word and a message text.
inline void FillErrorLine(CKrErrLogMessage& message)
{
    message.FormatLogProlog("KrSessionStore.cpp", 812, 0);
    std::string text = " [ERROR] session store did not answer within 500 ms for realm corp";
    // Padded so that every line is 120 bytes whatever the ids in the prolog.
    const int room = 119 - message.GetBufferLen() - static_cast<int>(text.size());
    if (room > 0) text.append(static_cast<size_t>(room), '.');
    text += '\n';
    message.SetFormattedMessage(text.c_str());
}

// The process-wide logger with a rolling error log, attached once.
inline CKrLogger& LoggerWithRollingFile()
{
    static CKrLogger* logger = [] {
        CKrLogger* l = theLogger();
        const std::string name = BenchFolder() + "/error.log";
        if (!l->SetLogOutput(l->NewLogOutput(0, name.c_str(), 3, kLimitMB, kBackups))) std::abort();
        return l;
    }();
    return *logger;
}

inline void BM_LogErrMsg_RollingFile(benchmark::State& state)
{
    CKrLogger& logger = LoggerWithRollingFile();
    CKrErrLogMessage message(false);
    FillErrorLine(message);
    for (auto _ : state) benchmark::DoNotOptimize(logger.LogErrMsg(message));
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * message.GetBufferLen());
}

// One descriptor, appended to by every thread: what the library does at its core.
inline int BareFile()
{
    static const int fd = [] {
        const std::string name = BenchFolder() + "/bare.log";
        return open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }();
    return fd;
}

// The same bytes in write() calls of their own. The file grows without bound
// otherwise; emptying it now and then keeps the comparison with the rolling
// outputs fair.
inline void BareWriteLoop(benchmark::State& state, const char* text, size_t length)
{
    const int fd = BareFile();
    size_t written = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(write(fd, text, length));
        written += length;
        if (state.thread_index() == 0 && written >= (static_cast<size_t>(kLimitMB) << 20)) {
            benchmark::DoNotOptimize(ftruncate(fd, 0));
            written = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(length));
}

inline void BM_BareWrite(benchmark::State& state)
{
    CKrErrLogMessage message(false);
    FillErrorLine(message);
    BareWriteLoop(state, message.GetBuffer(), static_cast<size_t>(message.GetBufferLen()));
}

// Runs the registered benchmarks, then detaches the logger's file and removes
// the bench folder; cleanUp runs in between for a comparison's own state.
inline int RunAndCleanUp(int argc, char** argv, void (*cleanUp)() = nullptr)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    theLogger()->DisableLog();
    if (cleanUp) cleanUp();
    RemoveBenchFolder();
    return 0;
}

}  // namespace krbench
