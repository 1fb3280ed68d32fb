// Reader slots of the reader-writer guard: slot indexes owned by threads, and
// the asymmetric barrier that lets readers count in without a fence.
#include <krerrlog/support/internal/KrReaderSlots.h>

#include <linux/membarrier.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
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

int Membarrier(int command) { return static_cast<int>(syscall(SYS_membarrier, command, 0, 0)); }

// Whether writers can make readers' plain stores visible with membarrier;
// decided once, before any reader relies on it.
bool AsymmetricBarrier()
{
    static const bool available = [] {
        const int saved = errno;
        const bool ok = Membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0;
        errno = saved;
        return ok;
    }();
    return available;
}

void GiveBackSlot(void* value)
{
    const auto index = static_cast<int>(reinterpret_cast<intptr_t>(value)) - 1;
    if (index >= 0 && index < kShared) g_taken.fetch_and(~(uint64_t{1} << index), std::memory_order_release);
    t_slot = 0;  // a reader later in this thread's exit takes an index again
}

pthread_key_t SlotKey()
{
    static const pthread_key_t key = [] {
        pthread_key_t made;
        pthread_key_create(&made, &GiveBackSlot);
        return made;
    }();
    return key;
}

// The calling thread's slot number plus 1, taken on first use.
int SlotOfThisThread()
{
    int slot = t_slot;
    if (slot != 0) return slot;
    slot = kShared + 1;
    if (AsymmetricBarrier()) {
        uint64_t taken = g_taken.load(std::memory_order_relaxed);
        while (~taken != 0) {
            const int index = __builtin_ctzll(~taken);
            if (g_taken.compare_exchange_weak(taken, taken | (uint64_t{1} << index), std::memory_order_acquire)) {
                const int saved = errno;
                pthread_setspecific(SlotKey(), reinterpret_cast<void*>(static_cast<intptr_t>(index + 1)));
                errno = saved;
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
    if (AsymmetricBarrier()) {
        const int saved = errno;
        Membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED);
        errno = saved;
    }
}

int ReaderSlots::Sum() const
{
    int sum = 0;
    for (const Slot& slot : m_slots) sum += slot.count.load(std::memory_order_seq_cst);
    return sum;
}

const void* ReaderSlots::ThisThread() { return &t_slot; }

}  // namespace krerrlog
