// Cost of one trace line: storing the values of a trace call and laying the
// line out in each of the four formats and the in-memory layout. Every
// benchmark also counts the operator new calls made inside its loop and
// reports them per iteration ("allocs"): the trace path must stay at 0 for
// lines under 4,096 bytes.
#include <krerrlog/trace/CKrTraceData.h>
#include <krerrlog/trace/internal/KrTraceFieldSettings.h>

#include "BenchAllocations.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

class CKrTraceDataTestPeer {
public:
    static bool Configure(CKrTraceData& record, int format, const char* delimiter, const char* path,
                          KrTraceComponentInfo* components, int componentCount, KrTraceDataFieldInfo* fields)
    {
        if (!record.SetConfiguration(format, delimiter, path, componentCount, components, fields, false)) return false;
        record.SetDateTimeFieldFromConfiguration();
        return true;
    }
    static bool Assemble(CKrTraceData& record, CKrErrLogMessage& message)
    {
        return record.AssembleTraceMessage(message, 0);
    }
    static void Refresh(CKrTraceData& copy, const CKrTraceData& master) { copy = master; }
};

namespace {

constexpr unsigned kMessage = 0, kPid = 2, kDate = 4, kPreciseTime = 6, kReturnValue = 8, kUser = 9, kRealm = 12;

// A per-thread copy configured like a server trace: six traced fields.
class TraceSetup {
public:
    explicit TraceSetup(int format, const char* extraData = "")
    {
        KrTraceComponentInfo component;
        component.id = 0x01000000;
        component.name = "Server";
        KrTraceDataFieldInfo fields[KR_KNOWN_DATA_FIELD_COUNT];
        krerrlog::FillKnownDataFieldInfo(fields);
        char path[] = "/tmp/krerrlog-bench-XXXXXX";
        const int fd = mkstemp(path);
        const std::string content =
            std::string("components: Server\ndata: Date, PreciseTime, Pid, User, Realm, Message") + extraData + "\n";
        if (fd >= 0) {
            if (write(fd, content.data(), content.size()) < 0) std::perror("write");
            close(fd);
        }
        m_master = std::make_unique<CKrTraceData>();
        m_ok = CKrTraceDataTestPeer::Configure(*m_master, format, ";", path, &component, 1, fields);
        unlink(path);
        m_copy = std::make_unique<CKrTraceData>();
        CKrTraceDataTestPeer::Refresh(*m_copy, *m_master);
    }
    bool ok() const { return m_ok; }
    CKrTraceData& record() { return *m_copy; }

    // The values of one trace call (the clock sets Date and PreciseTime).
    void SetValues()
    {
        CKrTraceData& r = *m_copy;
        r.SetFieldValue(kPreciseTime, 0, true);
        r.SetFieldValue(kPid, 0, true);
        r.SetFieldValue(kUser, "uid=alice,ou=people,dc=example,dc=com", true);
        r.SetFieldValue(kRealm, "/protected/finance/reports", true);
        r.SetFieldValue(kMessage, "Resource is protected, challenge issued", true);
    }

private:
    std::unique_ptr<CKrTraceData> m_master;
    std::unique_ptr<CKrTraceData> m_copy;
    bool m_ok = false;
};

// A whole trace call: values, assembly, clean-up.
void BM_TraceLine(benchmark::State& state)
{
    TraceSetup setup(static_cast<int>(state.range(0)));
    if (!setup.ok()) state.SkipWithError("configuration not read");
    CKrTraceData& record = setup.record();
    size_t length = 0;
    {
        AllocationCount count(state);
        for (auto _ : state) {
            setup.SetValues();
            record.Format();
            const char* line = record.GetFormattedTraceMessage();
            benchmark::DoNotOptimize(line);
            length = std::char_traits<char>::length(line);
            record.CleanUpData();
        }
    }
    state.counters["bytes"] = static_cast<double>(length);
}
BENCHMARK(BM_TraceLine)->ArgName("format")->DenseRange(0, 3);

// Assembly alone, the values set once.
void BM_AssembleOnly(benchmark::State& state)
{
    TraceSetup setup(static_cast<int>(state.range(0)));
    if (!setup.ok()) state.SkipWithError("configuration not read");
    setup.SetValues();
    CKrErrLogMessage message(false);
    AllocationCount count(state);
    for (auto _ : state) {
        CKrTraceDataTestPeer::Assemble(setup.record(), message);
        benchmark::DoNotOptimize(message.GetBuffer());
        message.CleanUpMessage();
    }
}
BENCHMARK(BM_AssembleOnly)->ArgName("format")->DenseRange(0, 3);

void BM_InMemoryTraceLine(benchmark::State& state)
{
    TraceSetup setup(0);
    if (!setup.ok()) state.SkipWithError("configuration not read");
    CKrTraceData& record = setup.record();
    AllocationCount count(state);
    for (auto _ : state) {
        setup.SetValues();
        record.InMemFormat();
        benchmark::DoNotOptimize(record.GetFormattedTraceMessage());
        record.InMemoryCleanUpData();
    }
}
BENCHMARK(BM_InMemoryTraceLine);

// A line just under 4,096 bytes still allocates nothing.
void BM_TraceLineNear4KiB(benchmark::State& state)
{
    TraceSetup setup(2);
    if (!setup.ok()) state.SkipWithError("configuration not read");
    CKrTraceData& record = setup.record();
    const std::string big(3900, 'x');
    size_t length = 0;
    {
        AllocationCount count(state);
        for (auto _ : state) {
            setup.SetValues();
            record.SetFieldValue(kMessage, big.c_str(), true);
            record.Format();
            length = std::char_traits<char>::length(record.GetFormattedTraceMessage());
            record.CleanUpData();
        }
    }
    state.counters["bytes"] = static_cast<double>(length);
}
BENCHMARK(BM_TraceLineNear4KiB);

template <typename Set>
void SetterBenchmark(benchmark::State& state, Set set)
{
    TraceSetup setup(0);
    CKrTraceData& record = setup.record();
    AllocationCount count(state);
    for (auto _ : state) benchmark::DoNotOptimize(set(record));
}

void BM_SetInt(benchmark::State& s)
{
    SetterBenchmark(s, [](CKrTraceData& r) { return r.SetFieldValue(kReturnValue, -123456, true); });
}
void BM_SetInt64(benchmark::State& s)
{
    SetterBenchmark(s, [](CKrTraceData& r) { return r.SetFieldValue(kReturnValue, 0x1234567890LL, true); });
}
void BM_SetUnsigned(benchmark::State& s)
{
    SetterBenchmark(s, [](CKrTraceData& r) { return r.SetFieldValue(kReturnValue, 4000000000u, true); });
}
void BM_SetUnsigned64(benchmark::State& s)
{
    SetterBenchmark(s, [](CKrTraceData& r) { return r.SetFieldValue(kReturnValue, 0x1234567890ULL, true); });
}
void BM_SetDouble(benchmark::State& s)
{
    SetterBenchmark(s, [](CKrTraceData& r) { return r.SetFieldValue(kReturnValue, 3.25, true); });
}
void BM_SetText(benchmark::State& s)
{
    SetterBenchmark(s, [](CKrTraceData& r) { return r.SetFieldValue(kUser, "alice", true); });
}
void BM_SetBool(benchmark::State& s)
{
    SetterBenchmark(s, [](CKrTraceData& r) { return r.SetFieldValue(kReturnValue, true, true); });
}
void BM_SetPid(benchmark::State& s)
{
    SetterBenchmark(s, [](CKrTraceData& r) { return r.SetFieldValue(kPid, 0, true); });
}
void BM_SetTid(benchmark::State& s)
{
    SetterBenchmark(s, [](CKrTraceData& r) { return r.SetFieldValue(3u, 0, true); });
}
void BM_SetClock(benchmark::State& s)
{
    SetterBenchmark(s, [](CKrTraceData& r) { return r.SetFieldValue(kPreciseTime, 0, true); });
}
void BM_SetClockNotDriver(benchmark::State& s)
{
    SetterBenchmark(s, [](CKrTraceData& r) { return r.SetFieldValue(kDate, 0, true); });
}
BENCHMARK(BM_SetInt);
BENCHMARK(BM_SetInt64);
BENCHMARK(BM_SetUnsigned);
BENCHMARK(BM_SetUnsigned64);
BENCHMARK(BM_SetDouble);
BENCHMARK(BM_SetText);
BENCHMARK(BM_SetBool);
BENCHMARK(BM_SetPid);
BENCHMARK(BM_SetTid);
BENCHMARK(BM_SetClock);
BENCHMARK(BM_SetClockNotDriver);

}  // namespace

BENCHMARK_MAIN();
