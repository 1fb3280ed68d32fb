// Cost of the text of an error line: a complete component-text line (prolog
// and FormatLogMessage with three arguments) and a complete translated line
// (prolog and FormatMessageA with three arguments through a cached bundle).
// Output is not included. Every run counts the heap allocations per line: once
// the bundle is cached and the message reused, a line allocates nothing.
#include <krerrlog/logger/CKrErrLogTableComponent.h>
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/support/internal/KrEnvironment.h>
#include <krerrlog/support/KrXlate.h>

#include "../tests/testsupport/LoggerTestPeer.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>

// ---- Counting allocator ----
// The replaced operators pair malloc with free; GCC cannot see that once it
// inlines them into the standard library's callers.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<long long> g_allocations{0};
}

void* operator new(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

// A component with a bundle, placed in slot 6 (component 7) of the process
// logger for the benchmarks.
constexpr unsigned int kFormatId = KrMessageId(7, KR_SEVERITY_ERROR, 1);      // component text
constexpr unsigned int kTranslatedId = KrMessageId(7, KR_SEVERITY_ERROR, 2);  // bundle key

const KrComponentMessage kBenchMessages[] = {
    {kFormatId, "Cannot open file %s (line %s): %s"},
    {kTranslatedId, "bench-open-failed"},
};
CKrErrLogTableComponent g_component(7, "KrBenchComponent", "Bench", "Benchmark component", kBenchMessages, 2);

void InstallCatalogue()
{
    static const bool installed = [] {
        char folder[] = "/tmp/krbenchXXXXXX";
        if (!mkdtemp(folder)) std::abort();
        const std::string file = std::string(folder) + "/KrBenchComponent_en.properties";
        FILE* out = std::fopen(file.c_str(), "w");
        if (!out) std::abort();
        std::fputs("bench-open-failed=Cannot open file {0} (line {1}): {2}\n", out);
        std::fclose(out);
        CKrXlate::SetResourceDirectory(folder);
        krerrlog::SetAdminLocale("en");
        CKrLoggerTestPeer::SetSlot(*theLogger(), 6, &g_component);
        return true;
    }();
    (void)installed;
}

void ReportAllocations(benchmark::State& state, long long before)
{
    const long long made = g_allocations.load() - before;
    state.counters["allocs_per_line"] =
        benchmark::Counter(static_cast<double>(made), benchmark::Counter::kAvgIterations);
}

}  // namespace

static void BM_ErrorLine_ComponentText(benchmark::State& state)
{
    InstallCatalogue();
    CKrErrLogMessage message(false);
    message.FormatLogProlog("src/server/main.cpp", 120, 0);
    message.FormatLogMessage(kFormatId, "policy.cfg", 120, "permission denied");
    if (!std::strstr(message.GetBuffer(), "[ERROR] Cannot open file policy.cfg (line 120): permission denied\n"))
        state.SkipWithError("the component text was not used");
    const long long before = g_allocations.load();
    for (auto _ : state) {
        message.FormatLogProlog("src/server/main.cpp", 120, 0);
        message.FormatLogMessage(kFormatId, "policy.cfg", 120, "permission denied");
        benchmark::DoNotOptimize(message.GetBuffer());
    }
    ReportAllocations(state, before);
}
BENCHMARK(BM_ErrorLine_ComponentText);

static void BM_ErrorLine_TranslatedText(benchmark::State& state)
{
    InstallCatalogue();
    CKrErrLogMessage message(false);
    // The first line reads and caches the bundle and sizes the argument storage.
    message.FormatLogProlog("src/server/main.cpp", 120, 0);
    message.ClearArguments();
    message.AddArgument("policy.cfg");
    message.AddArgument("120");
    message.AddArgument("permission denied");
    const char* first = message.FormatMessageA(kTranslatedId);
    if (!first || !std::strstr(first, "] Cannot open file policy.cfg (line 120): permission denied\n"))
        state.SkipWithError("the bundle text was not used");
    const long long before = g_allocations.load();
    for (auto _ : state) {
        message.FormatLogProlog("src/server/main.cpp", 120, 0);
        message.ClearArguments();
        message.AddArgument("policy.cfg");
        message.AddArgument("120");
        message.AddArgument("permission denied");
        benchmark::DoNotOptimize(message.FormatMessageA(kTranslatedId));
    }
    ReportAllocations(state, before);
}
BENCHMARK(BM_ErrorLine_TranslatedText);

BENCHMARK_MAIN();
