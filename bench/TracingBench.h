// Trace-call benchmarks shared by bench_tracing and the comparison program:
// tracing off, a component that is not selected, a traced call of six fields
// and a message into the in-memory trace and into an unbuffered trace file,
// and bare write() calls of the same bytes as that file line.
#pragma once

#include "BenchAllocations.h"
#include "ErrorLineBench.h"

#include <krerrlog/krerrlog.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace krbench {

// The line a traced call writes in the file trace (bracketed layout).
inline const char* kTracedLine = "[alice][corp][web-agent-01][123456][42][/index.html][request GET /index took 12 ms]\n";

struct TraceComponents {
    unsigned int selected = 0;    // Log/Legacy
    unsigned int unselected = 0;  // Log
};

inline const TraceComponents& Components()
{
    // The built-in component and its one sub-component are always there.
    static const TraceComponents ids{KrMakeComponentId(1, 1), KrMakeComponentId(1)};
    return ids;
}

inline const std::string& TraceConfig()
{
    static const std::string path = [] {
        const std::string name = BenchFolder() + "/trace.cfg";
        FILE* file = std::fopen(name.c_str(), "w");
        if (!file) std::abort();
        std::fputs("components: Log/Legacy\n"
                   "data: User, Realm, AgentName, TransactionID, ResponseTime, Resource, Message\n",
                   file);
        std::fclose(file);
        return name;
    }();
    return path;
}

// One traced function as a host writes it.
inline void SixFieldsAndAMessage(unsigned int component)
{
    KrTracing trace;
    if (!trace.BeginEx()) return;
    trace.AddComp(component);
    if (trace.NeedTracing() || trace.InMemoryNeedTracing()) {
        trace.SetData(9u, "alice");            // User
        trace.SetData(12u, "corp");            // Realm
        trace.SetData(16u, "web-agent-01");    // AgentName
        trace.SetData(18u, 123456u);           // TransactionID
        trace.SetData(46u, 42);                // ResponseTime
        trace.SetData(38u, "/index.html");     // Resource
        trace.SetMsg("request %s took %s ms", "GET /index", 12);
    }
    trace.Done(__FILE__, __LINE__);
}

// ---- Trace states, set before the benchmark's threads start ----

inline void TracingOff(const benchmark::State&)
{
    theLogger()->DisableTrace(false);
    theLogger()->DisableInMemoryTrace();
}

inline void FileTraceOnly(const benchmark::State& state)
{
    TracingOff(state);
    CKrLogger* logger = theLogger();
    const std::string name = BenchFolder() + "/trace.log";
    std::remove(name.c_str());
    CKrLogOutput* file = logger->NewLogOutput(1, name.c_str(), 3, kLimitMB, kBackups);
    if (!logger->EnableTrace(file, 0, nullptr, TraceConfig().c_str(), false, false, false)) std::abort();
}

inline void InMemoryTraceOnly(const benchmark::State& state)
{
    TracingOff(state);
    CKrLogger* logger = theLogger();
    if (!logger->EnableInMemoryTrace(logger->NewLogOutput(0, 64), TraceConfig().c_str(), false, false)) std::abort();
}

// ---- The benchmarks ----

inline void BM_Trace_Off(benchmark::State& state)
{
    for (auto _ : state) {
        KrTracing trace;
        benchmark::DoNotOptimize(trace.BeginEx());
    }
    state.SetItemsProcessed(state.iterations());
}

inline void BM_Trace_ComponentNotSelected(benchmark::State& state)
{
    const unsigned int component = Components().unselected;
    AllocationCount allocations(state);
    for (auto _ : state) {
        KrTracing trace;
        if (trace.BeginEx()) {
            trace.AddComp(component);
            trace.Done(__FILE__, __LINE__);
        }
        benchmark::DoNotOptimize(trace);
    }
    state.SetItemsProcessed(state.iterations());
}

// A traced call of six fields and a message, into whichever trace the setup
// switched on; bytes are reported when the call writes kTracedLine.
inline void SixFieldsLoop(benchmark::State& state, bool countsBytes)
{
    const unsigned int component = Components().selected;
    SixFieldsAndAMessage(component);  // warm-up: the thread takes its record
    AllocationCount allocations(state);
    for (auto _ : state) SixFieldsAndAMessage(component);
    state.SetItemsProcessed(state.iterations());
    if (countsBytes) state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::strlen(kTracedLine)));
}

inline void BM_Trace_InMemory_SixFieldsAndMessage(benchmark::State& state) { SixFieldsLoop(state, false); }
inline void BM_Trace_UnbufferedFile_SixFieldsAndMessage(benchmark::State& state) { SixFieldsLoop(state, true); }

// Checks once that the traced file line is the one the bare write repeats.
inline void CheckTracedLine(const benchmark::State& state)
{
    FileTraceOnly(state);
    SixFieldsAndAMessage(Components().selected);
    std::string text;
    if (FILE* file = std::fopen((BenchFolder() + "/trace.log").c_str(), "r")) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
        std::fclose(file);
    }
    const std::string line = kTracedLine;
    if (text.size() < line.size() || text.compare(text.size() - line.size(), line.size(), line) != 0) {
        std::fprintf(stderr, "the traced line differs from the compared one:\n%s", text.c_str());
        std::abort();
    }
    TracingOff(state);
}

inline void CheckTracedLineThenFileTraceOnly(const benchmark::State& state)
{
    CheckTracedLine(state);
    FileTraceOnly(state);
}

inline void BM_BareWrite_TracedLine(benchmark::State& state)
{
    BareWriteLoop(state, kTracedLine, std::strlen(kTracedLine));
}

}  // namespace krbench

// Registers the tracing benchmarks, 1 and 2 threads each.
#define KRBENCH_ONE_AND_TWO_THREADS ->Threads(1)->Threads(2)->UseRealTime()
#define KRBENCH_REGISTER_TRACING()                                                                                 \
    BENCHMARK(krbench::BM_Trace_Off)->Setup(krbench::TracingOff) KRBENCH_ONE_AND_TWO_THREADS;                      \
    BENCHMARK(krbench::BM_Trace_ComponentNotSelected)->Setup(krbench::FileTraceOnly) KRBENCH_ONE_AND_TWO_THREADS;  \
    BENCHMARK(krbench::BM_Trace_InMemory_SixFieldsAndMessage)                                                      \
        ->Setup(krbench::InMemoryTraceOnly)                                                                        \
        ->Teardown(krbench::TracingOff) KRBENCH_ONE_AND_TWO_THREADS;                                               \
    BENCHMARK(krbench::BM_Trace_UnbufferedFile_SixFieldsAndMessage)                                                \
        ->Setup(krbench::CheckTracedLineThenFileTraceOnly)                                                         \
        ->Teardown(krbench::TracingOff) KRBENCH_ONE_AND_TWO_THREADS;                                               \
    BENCHMARK(krbench::BM_BareWrite_TracedLine) KRBENCH_ONE_AND_TWO_THREADS
