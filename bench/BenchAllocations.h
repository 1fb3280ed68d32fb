// Reports the heap allocations a benchmark made per iteration on its thread,
// as the counter "allocs" (0 is the target on every hot path).
#pragma once

#include "testsupport/AllocationCounter.h"

#include <benchmark/benchmark.h>

class AllocationCount {
public:
    explicit AllocationCount(benchmark::State& state) : m_state(state), m_start(krtest::AllocationsOnThisThread()) {}
    ~AllocationCount()
    {
        const double made = static_cast<double>(krtest::AllocationsOnThisThread() - m_start);
        m_state.counters["allocs"] =
            benchmark::Counter(made / static_cast<double>(m_state.iterations() ? m_state.iterations() : 1));
    }
    AllocationCount(const AllocationCount&) = delete;
    AllocationCount& operator=(const AllocationCount&) = delete;

private:
    benchmark::State& m_state;
    long m_start;
};
