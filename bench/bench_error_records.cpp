// Collecting error records: records per second added to one CKrError for lists
// of 1,000, 20,000 and 50,000 records (each record made, added, offered again
// and finally deleted with the list), then the same with SetError replacing
// the list. Adding a record must cost the same at any length of the list, so
// records/s must not fall as the list grows.
#include <krerrlog/logger/CKrError.h>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void AddRecords(benchmark::State& state)
{
    const auto count = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        CKrError list;
        CKrErrData* first = CKrError::NewErrData();
        list.AddError(first);
        for (size_t i = 1; i < count; ++i) {
            list.AddError(CKrError::NewErrData());
            list.AddError(first);  // held already: refused, also in constant time
        }
        benchmark::DoNotOptimize(list.GetLastError());
    }
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(count) * static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(AddRecords)->Arg(1000)->Arg(20000)->Arg(50000)->Unit(benchmark::kMillisecond);

// SetError on a list of one: the walk deletes one record, whatever came before.
void SetRecords(benchmark::State& state)
{
    const auto count = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        CKrError list;
        for (size_t i = 0; i < count; ++i) list.SetError(CKrError::NewErrData());
        benchmark::DoNotOptimize(list.GetLastError());
    }
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(count) * static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(SetRecords)->Arg(1000)->Arg(20000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
