// Cost of the prolog that opens every error line.
#include <krerrlog/message/CKrErrLogMessage.h>

#include <benchmark/benchmark.h>

static void BM_FormatLogProlog_Utc(benchmark::State& state)
{
    CKrErrLogMessage message(false);
    for (auto _ : state) {
        message.FormatLogProlog("src/server/main.cpp", 120, 0);
        benchmark::DoNotOptimize(message.GetBuffer());
    }
}
BENCHMARK(BM_FormatLogProlog_Utc);

static void BM_FormatLogProlog_Local(benchmark::State& state)
{
    CKrErrLogMessage message(true);
    for (auto _ : state) {
        message.FormatLogProlog("src/server/main.cpp", 120, 0);
        benchmark::DoNotOptimize(message.GetBuffer());
    }
}
BENCHMARK(BM_FormatLogProlog_Local);

static void BM_FormatLogProlog_NamedLogger(benchmark::State& state)
{
    CKrErrLogMessage message(true);
    for (auto _ : state) {
        message.FormatLogProlog("src/server/main.cpp", 120, 0, "AgentLogger");
        benchmark::DoNotOptimize(message.GetBuffer());
    }
}
BENCHMARK(BM_FormatLogProlog_NamedLogger);

BENCHMARK_MAIN();
