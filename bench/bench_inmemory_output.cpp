// Cost of storing one trace line of 120 bytes into the in-memory trace
// area: from one thread, and from several at once (one compare-and-swap for
// the reservation, copies in parallel), beside the floor that any shared area
// has. The 8 MB area wraps every ~67,000 lines, so wraps are part of the
// figures. Every run counts the heap allocations per stored line ("allocs"):
// the store path must stay at 0.
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/CKrInMemoryOutput.h>

#include "BenchAllocations.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const std::string kLine =
    "2025-03-03 14:05:09.042|4242|140213|user=alice|realm=/corp|agent=web-7|tx=9f1c2e7a|elapsed=17|rc=0|comp=authn|op=login|\n";

CKrInMemoryOutput& SharedOutput()
{
    static CKrInMemoryOutput* const output = [] {
        auto* made = new CKrInMemoryOutput;
        if (!made->SetParams(8) || !made->Open()) std::abort();
        return made;
    }();
    return *output;
}

// The text and length form, as a trace record hands its line over.
void BM_StoreLine(benchmark::State& state)
{
    CKrInMemoryOutput& output = SharedOutput();
    const int length = static_cast<int>(kLine.size());
    {
        AllocationCount count(state);
        for (auto _ : state) benchmark::DoNotOptimize(output.Log(kLine.data(), length));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * length);
}
BENCHMARK(BM_StoreLine)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

// The message form, as the logger calls it.
void BM_StoreMessage(benchmark::State& state)
{
    CKrInMemoryOutput& output = SharedOutput();
    CKrErrLogMessage message(false);
    message.SetFormattedMessage(kLine.c_str());
    {
        AllocationCount count(state);
        for (auto _ : state) benchmark::DoNotOptimize(output.Log(message));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * message.GetBufferLen());
}
BENCHMARK(BM_StoreMessage)->Threads(1)->Threads(4)->UseRealTime();

// The floor under any store into one shared area: an atomic add for the
// place and a copy of the line there, with no wrap, pause or count of copies.
// With several threads the cost is the cache lines passed between cores.
void BM_SharedAreaFloor(benchmark::State& state)
{
    constexpr size_t kAreaSize = 8000000;
    static std::atomic<unsigned long long> position{0};
    static char* const area = static_cast<char*>(std::calloc(kAreaSize, 1));
    const size_t length = kLine.size();
    for (auto _ : state) {
        const unsigned long long at = position.fetch_add(length, std::memory_order_relaxed) % (kAreaSize - length);
        std::memcpy(area + at, kLine.data(), length);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SharedAreaFloor)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
