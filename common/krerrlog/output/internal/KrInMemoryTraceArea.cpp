#include <krerrlog/output/internal/KrInMemoryTraceArea.h>

#include <krerrlog/support/internal/KrFileOps.h>
#include <krerrlog/support/platform/KrForkSafety.h>
#include <krerrlog/support/internal/KrMemoryPolicy.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

namespace krerrlog {

namespace {

constexpr char kCrashTitle[] = "\nLast Lines of Trace Log:\n\n";
// A crashing thread waits this long for copies in progress and for the text
// lock, then writes what it has.
constexpr auto kCrashWait = std::chrono::milliseconds(200);

// Test seams, seq_cst by default: set by a test before the threads it checks.
std::atomic<int> g_failNextAllocations{0};
std::atomic<void (*)()> g_afterAllocation{nullptr};

static_assert(kLargestTraceAreaMegabytes * kBytesPerTraceMegabyte + 1 < (1ull << 31),
              "the fill position must fit the state word");

// calloc leaves fresh pages to the kernel's zero pages: a large area costs
// nothing until it is written.
char* AllocateZeroed(uint64_t size)
{
    int pending = g_failNextAllocations.load();
    while (pending > 0) {
        if (g_failNextAllocations.compare_exchange_weak(pending, pending - 1)) return nullptr;
    }
    if (size == 0 || size > SIZE_MAX) return nullptr;
    return static_cast<char*>(std::calloc(static_cast<size_t>(size), 1));
}

// Copies are a memcpy of one line: yield first, then sleep briefly in case the
// copying thread was preempted.
void Backoff(int round)
{
    if (round < 64) {
        std::this_thread::yield();
    } else {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

// Takes the lock; a crashing thread (bounded) gives up after a while, since
// the lock may be held by a thread that will never run again.
bool LockBounded(std::unique_lock<Mutex>& hold, bool bounded)
{
    if (!bounded) {
        hold.lock();
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + kCrashWait;
    while (!hold.try_lock()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool WriteAll(int fd, const char* data, uint64_t length)
{
    if (length == 0) return true;
    return FileWrite(fd, data, static_cast<size_t>(length)) == static_cast<std::ptrdiff_t>(length);
}

}  // namespace

void FailNextTraceAreaAllocations(int count) { g_failNextAllocations.store(count > 0 ? count : 0); }

void SetTraceAreaAfterAllocationHook(void (*hook)()) { g_afterAllocation = hook; }

InMemoryTraceArea& InMemoryTraceArea::Process()
{
    alignas(InMemoryTraceArea) static unsigned char storage[sizeof(InMemoryTraceArea)];
    static InMemoryTraceArea* const area = [] {
        auto* made = new (storage) InMemoryTraceArea();
        RegisterForkSafeLock(kForkOrderInMemoryArea, made->m_areaLock);
        RegisterForkSafeLock(kForkOrderInMemoryArea + 1, made->m_textLock);
        return made;
    }();
    return *area;
}

InMemoryTraceArea::InMemoryTraceArea()
    : m_state(kBlocked),  // no area yet
      m_pArea(nullptr),
      m_iAllocationSize(kDefaultTraceAreaMegabytes * kBytesPerTraceMegabyte + 1),
      m_iCapacity(kDefaultTraceAreaMegabytes * kBytesPerTraceMegabyte),
      m_bWrapped(false),
      m_iPauses(0),
      m_iDumps(0),
      m_iShares(0),
      m_iGeneration(1),
      m_bHasDumpPrefix(false)
{
}

bool InMemoryTraceArea::Configure(uint64_t capacity)
{
    MutexHold hold(m_areaLock);
    if (m_pArea.load(std::memory_order_relaxed)) return false;
    m_state.store(kBlocked, std::memory_order_relaxed);  // position 0
    m_iCapacity = capacity;
    m_iAllocationSize.store(capacity + 1, std::memory_order_relaxed);
    return true;
}

char* InMemoryTraceArea::Enable(bool& fellBack, Share& share)
{
    fellBack = false;
    uint64_t size;
    {
        MutexHold hold(m_areaLock);
        if (char* existing = m_pArea.load(std::memory_order_relaxed)) return JoinLocked(existing, share);
        size = m_iAllocationSize.load(std::memory_order_relaxed);
    }
    // Allocated outside the lock, which stores may need meanwhile.
    char* area = AllocateZeroed(size);
    uint64_t capacity = size - 1;
    if (!area) {
        capacity = kDefaultTraceAreaMegabytes * kBytesPerTraceMegabyte;
        area = AllocateZeroed(capacity + 1);
        if (!area) return nullptr;
        fellBack = true;
    }
    if (auto hook = g_afterAllocation.load()) hook();
    MutexHold hold(m_areaLock);
    if (char* existing = m_pArea.load(std::memory_order_relaxed)) {
        // Another thread switched it on meanwhile: share that one, and keep
        // the header lines its owner may have set already.
        std::free(area);
        fellBack = false;
        return JoinLocked(existing, share);
    }
    {
        // Before the area is published: headers set after that are the new area's.
        MutexHold text(m_textLock);
        m_firstHeader.clear();
        m_secondHeader.clear();
    }
    m_iCapacity = capacity;
    m_iAllocationSize.store(capacity + 1, std::memory_order_relaxed);
    // The position is kept from before (only Configure resets it), unless it
    // lies beyond a smaller area than the last one.
    uint64_t offset = m_state.load(std::memory_order_relaxed) & kOffsetMask;
    if (offset > capacity + 1) offset = 0;
    m_bWrapped = false;
    m_iPauses = 0;
    ++m_iGeneration;  // a new area: no share in an earlier one counts here
    m_iShares = 0;
    m_pArea.store(area, std::memory_order_release);
    m_state.store(offset, std::memory_order_release);  // unblocked, no copies
    return JoinLocked(area, share);
}

char* InMemoryTraceArea::JoinLocked(char* area, Share& share)
{
    if (share != m_iGeneration) {
        share = m_iGeneration;
        ++m_iShares;
    }
    return area;
}

void InMemoryTraceArea::Disable() { SwitchOff(nullptr); }

void InMemoryTraceArea::Release(Share& share) { SwitchOff(&share); }

void InMemoryTraceArea::SwitchOff(Share* share)
{
    {
        MutexHold hold(m_areaLock);
        if (share) {
            const bool current = *share == m_iGeneration;
            *share = 0;
            if (!current || --m_iShares > 0) return;
        }
        if (!m_pArea.load(std::memory_order_relaxed)) return;
        // Decided under the same lock as the share count. Shares taken in the
        // area from here on, while it waits to be freed, are voided by the
        // next area's generation.
        ++m_iGeneration;
        m_iShares = 0;
        PauseLocked();  // no reservation after this one; the area stays blocked
    }
    // Every copy reserved before the pause and every dump must end before the
    // memory goes.
    for (int round = 0;; ++round) {
        {
            MutexHold hold(m_areaLock);
            if (m_iDumps == 0 && (m_state.load(std::memory_order_acquire) & kCopiesMask) == 0) break;
        }
        Backoff(round);
    }
    char* area;
    {
        MutexHold hold(m_areaLock);
        area = m_pArea.exchange(nullptr, std::memory_order_acq_rel);
    }
    std::free(area);
}

void InMemoryTraceArea::PauseLocked()
{
    ++m_iPauses;
    m_state.fetch_or(kBlocked, std::memory_order_acq_rel);
}

void InMemoryTraceArea::ResumeLocked()
{
    if (--m_iPauses == 0 && m_pArea.load(std::memory_order_relaxed)) {
        m_state.fetch_and(~kBlocked, std::memory_order_acq_rel);
    }
}

bool InMemoryTraceArea::Store(const char* text, int length)
{
    if (!text || length < 0) return false;
    const uint64_t n = static_cast<uint64_t>(length);
    bool stored = false;
    char* at = Reserve(n, stored);
    if (!at) return stored;
    std::memcpy(at, text, static_cast<size_t>(n));
    EndCopy();
    return true;
}

char* InMemoryTraceArea::Reserve(uint64_t n, bool& stored)
{
    // Fast path: the message fits behind the position and nothing blocks.
    uint64_t state = m_state.load(std::memory_order_acquire);
    while ((state & kBlocked) == 0) {
        const uint64_t at = state & kOffsetMask;
        const uint64_t end = at + n;  // 64 bits: cannot overflow for any area
        // Relaxed: the size changes only while blocked, and the acquire load of
        // the unblocked state above saw the store that unblocked it after the size.
        if (end > m_iAllocationSize.load(std::memory_order_relaxed)) break;
        const uint64_t next = (state & ~kOffsetMask) + end + kOneCopy;
        if (m_state.compare_exchange_weak(state, next, std::memory_order_acq_rel, std::memory_order_acquire)) {
            // Counted as a copy in progress: the area cannot go before EndCopy.
            stored = true;
            return m_pArea.load(std::memory_order_acquire) + at;
        }
    }
    MutexHold hold(m_areaLock);
    return ReserveLocked(n, stored);
}

char* InMemoryTraceArea::ReserveLocked(uint64_t n, bool& stored)
{
    char* area = m_pArea.load(std::memory_order_relaxed);
    stored = false;
    if (!area) return nullptr;
    if (m_iPauses != 0) {  // dropped while dumping or switching off
        stored = true;
        return nullptr;
    }
    const uint64_t size = m_iAllocationSize.load(std::memory_order_relaxed);
    // Longer than the whole area: it could be stored nowhere whole.
    if (n > size) return nullptr;
    // Not blocked here (wraps finish inside the lock and there is no pause),
    // but other threads may still reserve on the fast path.
    uint64_t state = m_state.load(std::memory_order_acquire);
    for (;;) {
        const uint64_t at = state & kOffsetMask;
        if (at + n > size) break;
        const uint64_t next = (state & ~kOffsetMask) + at + n + kOneCopy;
        if (m_state.compare_exchange_weak(state, next, std::memory_order_acq_rel, std::memory_order_acquire)) {
            stored = true;
            return area + at;
        }
    }
    // Wrap. Block the fast path, so the position stays where it is, then let
    // the previous lap's copies finish before this lap reaches them.
    state = m_state.fetch_or(kBlocked, std::memory_order_acq_rel);
    const uint64_t at = state & kOffsetMask;
    for (int round = 0; (m_state.load(std::memory_order_acquire) & kCopiesMask) != 0; ++round) Backoff(round);
    // The rest is shorter than this message: zeroed while blocked, so that no
    // copy of the new lap can meet it.
    std::memset(area + at, 0, static_cast<size_t>(size - at));
    m_bWrapped = true;
    m_state.store(n + kOneCopy, std::memory_order_release);  // unblocked, this copy counted
    stored = true;
    return area;
}

uint64_t InMemoryTraceArea::Capacity() const
{
    MutexHold hold(m_areaLock);
    return m_iCapacity;
}

uint64_t InMemoryTraceArea::AllocationSize() const { return m_iAllocationSize.load(std::memory_order_relaxed); }

bool InMemoryTraceArea::Wrapped() const
{
    MutexHold hold(m_areaLock);
    return m_bWrapped;
}

void InMemoryTraceArea::SetHeaders(const char* first, size_t firstLength, const char* second, size_t secondLength)
{
    MutexHold hold(m_textLock);
    // The lambda runs here, under the hold.
    std::string* firstHeader = &m_firstHeader;
    std::string* secondHeader = &m_secondHeader;
    // Both or neither: without memory for them, dumps go without headers.
    if (!NoThrowDone([&] {
            firstHeader->assign(first, firstLength);
            secondHeader->assign(second, secondLength);
        })) {
        m_firstHeader.clear();
        m_secondHeader.clear();
    }
}

void InMemoryTraceArea::SetDumpPrefix(const char* prefix)
{
    MutexHold hold(m_textLock);
    m_bHasDumpPrefix = prefix != nullptr;
    m_dumpPrefix.assign(prefix ? prefix : "");
}

char* InMemoryTraceArea::DumpPrefix()
{
    thread_local std::string copy;
    MutexHold hold(m_textLock);
    if (!m_bHasDumpPrefix) return nullptr;
    copy = m_dumpPrefix;
    return copy.data();
}

// Unchecked: at a crash the text lock is taken with a time limit (LockBounded).
bool InMemoryTraceArea::CopyDumpPrefix(char* out, size_t size, bool atCrash) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
{
    if (!out || size == 0) return false;
    std::unique_lock<Mutex> hold(m_textLock, std::defer_lock);
    if (!LockBounded(hold, atCrash)) return false;
    if (m_dumpPrefix.size() >= size) return false;
    std::memcpy(out, m_dumpPrefix.c_str(), m_dumpPrefix.size() + 1);
    return true;
}

bool InMemoryTraceArea::WaitForCopies(bool bounded) const
{
    const auto deadline = std::chrono::steady_clock::now() + kCrashWait;
    for (int round = 0; (m_state.load(std::memory_order_acquire) & kCopiesMask) != 0; ++round) {
        if (bounded && std::chrono::steady_clock::now() > deadline) return false;
        Backoff(round);
    }
    return true;
}

// Unchecked: at a crash both locks are taken with a time limit, and past it
// the area is read without them (LockBounded).
bool InMemoryTraceArea::WriteDump(int fd, bool atCrash) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
{
    bool ok = true;
    if (atCrash) ok = WriteAll(fd, kCrashTitle, sizeof kCrashTitle - 1);

    const char* area;
    uint64_t offset, size;
    bool wrapped;
    // A crashing thread may hold the area lock itself (it crashed inside a
    // wrap) or another thread may never give it back: after a while it dumps
    // without pausing the area, reading what is there.
    std::unique_lock<Mutex> hold(m_areaLock, std::defer_lock);
    const bool paused = LockBounded(hold, atCrash);
    area = m_pArea.load(std::memory_order_acquire);
    if (!area) return ok;
    if (paused) {
        PauseLocked();  // the position stays where it is from here on
        ++m_iDumps;     // keeps the area alive until the dump ends
    }
    offset = m_state.load(std::memory_order_acquire) & kOffsetMask;
    size = m_iAllocationSize.load(std::memory_order_relaxed);
    wrapped = m_bWrapped;
    if (paused) hold.unlock();
    // A crashing thread may itself be one of the copies: it goes on after a while.
    WaitForCopies(atCrash);

    if (wrapped) {
        std::unique_lock<Mutex> text(m_textLock, std::defer_lock);
        if (LockBounded(text, atCrash) && !m_firstHeader.empty() && !m_secondHeader.empty()) {
            ok = WriteAll(fd, m_firstHeader.data(), m_firstHeader.size()) && ok;
            ok = WriteAll(fd, m_secondHeader.data(), m_secondHeader.size()) && ok;
        }
        if (text.owns_lock()) text.unlock();
        ok = WriteAll(fd, area + offset, size - offset) && ok;
    }
    ok = WriteAll(fd, area, offset) && ok;

    if (!paused) return ok;
    // In one step, so that a switch-off waiting for this dump cannot free the
    // area and a switch-on start it again in between.
    if (!LockBounded(hold, atCrash)) return ok;  // a crashing process need not resume
    --m_iDumps;
    ResumeLocked();
    return ok;
}

}  // namespace krerrlog
