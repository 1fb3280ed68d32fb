// What the per-thread nesting record costs a logged line: the logger's read
// hold (NestedReadHold) against the plain scoped reader on the same guard, and
// a whole LogErrMsg into a callback that does nothing.
#include <krerrlog/krerrlog.h>
#include <krerrlog/logger/internal/KrNestedLogGuard.h>

#include <benchmark/benchmark.h>

namespace {

CKrErrLogGuard g_guard;

void BM_ReadHold_PlainAutoReader(benchmark::State& state)
{
    for (auto _ : state) {
        CKrErrLogAutoReader hold(&g_guard);
        benchmark::ClobberMemory();
    }
}

void BM_ReadHold_NestedReadHold(benchmark::State& state)
{
    for (auto _ : state) {
        krerrlog::NestedReadHold<CKrErrLogGuard> hold(g_guard);
        benchmark::DoNotOptimize(hold.Admitted());
        benchmark::ClobberMemory();
    }
}

void Discard(const char*, int) {}

void BM_LogErrMsg_NullCallback(benchmark::State& state)
{
    CKrLogger* logger = getMyLogger("bench-nested-read-hold");
    if (state.thread_index() == 0) logger->SetLogOutput(logger->NewLogOutput(0, &Discard));
    CKrErrLogMessage message(false);
    message.FormatLogProlog("bench_nested_read_hold.cpp", 1, 0);
    for (auto _ : state) benchmark::DoNotOptimize(logger->LogErrMsg(message));
}

}  // namespace

BENCHMARK(BM_ReadHold_PlainAutoReader)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_ReadHold_NestedReadHold)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_LogErrMsg_NullCallback)->Threads(1)->UseRealTime();
BENCHMARK_MAIN();
