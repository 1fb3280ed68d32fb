// Reader slots of the reader-writer guard.
#include <krerrlog/support/KrReaderSlots.h>

namespace krerrlog {

namespace {

std::atomic<unsigned> g_nextSlot{0};

// Initial-exec: one register-relative read, no call, on the reader's path.
// 0 until the thread first reads; then its slot number plus 1.
thread_local unsigned t_slot __attribute__((tls_model("initial-exec"))) = 0;

}  // namespace

std::atomic<int>& ReaderSlots::Mine()
{
    unsigned slot = t_slot;
    if (slot == 0) {
        slot = g_nextSlot.fetch_add(1, std::memory_order_relaxed) % kSlots + 1;
        t_slot = slot;
    }
    return m_slots[slot - 1].count;
}

int ReaderSlots::Sum() const
{
    int sum = 0;
    for (const Slot& slot : m_slots) sum += slot.count.load(std::memory_order_seq_cst);
    return sum;
}

const void* ReaderSlots::ThisThread() { return &t_slot; }

}  // namespace krerrlog
