// Counts heap allocations made by the calling thread, for tests and benchmarks
// that prove a path allocates nothing, and makes a chosen one fail, for tests
// of running out of memory. Linking this replaces the global operator new and
// delete of the program.
#pragma once

namespace krtest {
long AllocationsOnThisThread();

// From construction on, the n-th operator new of the calling thread (1: the
// next) fails: the throwing forms throw std::bad_alloc, the nothrow forms
// return null. With andAllAfter, every later one fails too until the object is
// destroyed (memory stays exhausted: catches clean-up that allocates); without,
// only that one (memory comes back: catches half-made state that a later step
// trips over). Other threads allocate as usual.
class FailingAllocations {
public:
    FailingAllocations(long n, bool andAllAfter);
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;
    // True once an allocation was refused: the path reached the n-th one.
    bool Refused() const;
};
}
