// Reader slots of the reader-writer guard: slot indexes owned by threads, and
// the asymmetric barrier that lets readers count in without a fence.
#include <krerrlog/support/internal/KrReaderSlots.h>

#include <krerrlog/support/internal/KrThreadKey.h>
#include <krerrlog/support/platform/KrPlatformBarrier.h>
#include <krerrlog/support/platform/KrSavedErrorCodes.h>

#include <cstdint>

namespace krerrlog {

namespace {

constexpr int kShared = static_cast<int>(ReaderSlots::kSlots);

// Initial-exec: one register-relative read on the reader's path.
// 0: no index yet; 1..kSlots: the owned index plus 1; kSlots+1: shared.
thread_local int t_slot __attribute__((tls_model("initial-exec"))) = 0;

// One bit per owned slot index: claimed with acquire, given back with release,
// so a slot's next owner sees the last owner's count back at 0.
std::atomic<uint64_t> g_taken{0};

void GiveBackSlot(void* value)
{
    const auto index = static_cast<int>(reinterpret_cast<intptr_t>(value)) - 1;
    if (index >= 0 && index < kShared) g_taken.fetch_and(~(uint64_t{1} << index), std::memory_order_release);
    t_slot = 0;  // a reader later in this thread's exit takes an index again
}

unsigned long SlotKey()
{
    static const unsigned long key = ThreadKeyAlloc(&GiveBackSlot);
    return key;
}

// The calling thread's slot number plus 1, taken on first use.
int SlotOfThisThread()
{
    int slot = t_slot;
    if (slot != 0) return slot;
    slot = kShared + 1;
    if (ProcessBarrierAvailable()) {
        uint64_t taken = g_taken.load(std::memory_order_relaxed);
        while (~taken != 0) {
            const int index = __builtin_ctzll(~taken);
            if (g_taken.compare_exchange_weak(taken, taken | (uint64_t{1} << index), std::memory_order_acquire)) {
                SavedErrorCodes keepErrors;
                ThreadKeySet(SlotKey(), reinterpret_cast<void*>(static_cast<intptr_t>(index + 1)));
                slot = index + 1;
                break;
            }
        }
    }
    t_slot = slot;
    return slot;
}

}  // namespace

void ReaderSlots::Enter()
{
    const int slot = SlotOfThisThread();
    std::atomic<int>& count = m_slots[slot - 1].count;
    if (slot <= kShared) {
        // Only this thread writes its slot; the writer's barrier orders the
        // store before the caller's look at the gate.
        count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        std::atomic_signal_fence(std::memory_order_seq_cst);
    } else {
        count.fetch_add(1, std::memory_order_seq_cst);
    }
}

void ReaderSlots::Leave()
{
    const int slot = SlotOfThisThread();
    std::atomic<int>& count = m_slots[slot - 1].count;
    if (slot <= kShared) {
        count.store(count.load(std::memory_order_relaxed) - 1, std::memory_order_release);
    } else {
        count.fetch_sub(1, std::memory_order_release);
    }
}

void ReaderSlots::AfterGateClosed()
{
    if (ProcessBarrierAvailable()) IssueProcessBarrier();
}

int ReaderSlots::Sum() const
{
    int sum = 0;
    for (const Slot& slot : m_slots) sum += slot.count.load(std::memory_order_seq_cst);
    return sum;
}

const void* ReaderSlots::ThisThread() { return &t_slot; }

}  // namespace krerrlog
