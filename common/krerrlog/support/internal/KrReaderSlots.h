// Where the readers of a reader-writer guard announce themselves: counters on
// cache lines of their own, so that readers on different threads never write
// to the same line. A writer adds them all up.
//
// Each of the first kSlots threads alive at once owns one slot index (given
// back when the thread ends), so a reader changes its counter with a plain
// store. The store must be seen by a writer that closes the gate at the same
// time; instead of a full fence on every read, the writer runs a process-wide
// barrier (KrPlatformBarrier.h) after closing the gate. Threads beyond
// kSlots, and kernels without that barrier, count in with a fenced
// read-modify-write.
#pragma once

#include <atomic>

namespace krerrlog {

class ReaderSlots {
public:
    static constexpr unsigned kSlots = 64;
    static constexpr unsigned kCacheLine = 64;

    // A reader counts itself in and out; the writer's gate is looked at in
    // between by the caller (see CKrGuard::LockForRead).
    void Enter();
    void Leave();
    // After the gate was closed: makes every reader's earlier Enter visible,
    // so that Sum() sees it.
    static void AfterGateClosed();
    // The readers inside; while the gate is closed at least the true number
    // (a reader that backs out may still be counted for a moment).
    int Sum() const;

    // A number that stands for the calling thread while it lives.
    static const void* ThisThread();

private:
    struct alignas(kCacheLine) Slot {
        std::atomic<int> count{0};  // orderings: the handshake at the top of this file
    };
    Slot m_slots[kSlots + 1];  // the last one is shared by the threads without a slot
};

}  // namespace krerrlog
