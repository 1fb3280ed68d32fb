// Where the readers of a reader-writer guard announce themselves: counters on
// cache lines of their own, one chosen per thread, so that readers on
// different threads never write to the same line. A writer adds them all up.
#pragma once

#include <atomic>

namespace krerrlog {

class ReaderSlots {
public:
    static constexpr unsigned kSlots = 64;
    static constexpr unsigned kCacheLine = 64;

    // The calling thread's counter. Threads take the slots in turn, so the
    // first 64 threads of the process each have one to themselves.
    std::atomic<int>& Mine();
    // The readers inside: at least the true number while a writer holds the
    // gate closed (a reader that backs out may still be counted for a moment).
    int Sum() const;

    // A number that stands for the calling thread while it lives.
    static const void* ThisThread();

private:
    struct alignas(kCacheLine) Slot {
        std::atomic<int> count{0};
    };
    Slot m_slots[kSlots];
};

}  // namespace krerrlog
