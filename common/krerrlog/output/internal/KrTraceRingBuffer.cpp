// The process-wide trace ring buffer: reservation, copy and publication by
// producers, draining by the writer-lock holder, the crash flush.
#include <krerrlog/output/internal/KrTraceRingBuffer.h>

#include <krerrlog/output/internal/KrTraceWriterThread.h>
#include <krerrlog/support/platform/KrPlatformClock.h>
#include <krerrlog/support/platform/KrPlatformFiles.h>
#include <krerrlog/support/platform/KrPlatformThread.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace krerrlog {
namespace {

std::atomic<int> g_failNextAllocations{0};  // test seam, seq_cst: set before the threads it checks

bool AllocationFailsForTest()
{
    int left = g_failNextAllocations.load(std::memory_order_relaxed);
    while (left > 0) {
        if (g_failNextAllocations.compare_exchange_weak(left, left - 1)) return true;
    }
    return false;
}

unsigned char LoadByte(const unsigned char* p) { return __atomic_load_n(p, __ATOMIC_ACQUIRE); }
void PublishByte(unsigned char* p, unsigned char value) { __atomic_store_n(p, value, __ATOMIC_RELEASE); }

unsigned char Stored(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte == TraceRingBuffer::kEmpty ? TraceRingBuffer::kEmptyReplacement : byte;
}

// Copies n bytes, storing 0xFE as '?'. Most texts hold no 0xFE: one memchr
// finds that and the copy is a memcpy.
void CopyReplacingEmpty(unsigned char* to, const char* from, size_t n)
{
    if (n == 0) return;
    if (!std::memchr(from, TraceRingBuffer::kEmpty, n)) {
        std::memcpy(to, from, n);
        return;
    }
    for (size_t i = 0; i < n; ++i) to[i] = Stored(from[i]);
}

}  // namespace

void FailNextTraceRingAllocations(int count) { g_failNextAllocations.store(count > 0 ? count : 0); }

TraceRingBuffer& TraceRingBuffer::Process()
{
    alignas(TraceRingBuffer) static unsigned char storage[sizeof(TraceRingBuffer)];
    static TraceRingBuffer* const ring = new (storage) TraceRingBuffer();
    return *ring;
}

TraceRingBuffer::TraceRingBuffer()
    : m_reserved(kClosed),  // no ring yet
      m_writeLimit(0),
      m_data(nullptr),
      m_size(0),
      m_mask(0),
      m_wakeThreshold(0),
      m_bounce(nullptr),
      m_monitor(TraceWriter::Process())
{
}

uint32_t TraceRingBuffer::BytesForMegabytes(uint32_t megabytes)
{
    const uint32_t m = std::min<uint32_t>(megabytes, 512);
    uint32_t e = 0;
    while (m > 1 && (1u << e) < m) ++e;
    return 1u << (20 + e);
}

TraceRingBuffer::Produced TraceRingBuffer::Produce(const char* text, uint64_t n)
{
    // Checked before reserving, so a dropped message costs no room.
    const uint32_t size = m_size.load(std::memory_order_relaxed);
    if (!text || n == 0) return Produced::Dropped;
    if (size != 0 && n > size) return Produced::Dropped;

    const uint64_t p = m_reserved.fetch_add(n, std::memory_order_acquire);
    if (p & kClosed) return Produced::Closed;

    // A ring made since the size was read may be smaller: copy in pieces then.
    const uint64_t piece = m_size.load(std::memory_order_relaxed);
    for (uint64_t done = 0; done < n;) {
        const uint64_t length = std::min(piece, n - done);
        WaitForRoom(p + done, length);
        CopyAndPublish(p + done, text + done, length);
        done += length;
    }
    return Produced::Stored;
}

void TraceRingBuffer::WaitForRoom(uint64_t p, uint64_t n)
{
    const uint64_t threshold = m_wakeThreshold.load(std::memory_order_relaxed);
    for (unsigned long i = 0;; ++i) {
        const uint64_t limit = m_writeLimit.load(std::memory_order_acquire);
        if (threshold + p > limit) m_monitor.Wake();
        if (limit >= p + n) return;
        SleepMilliseconds(i);
    }
}

void TraceRingBuffer::CopyAndPublish(uint64_t p, const char* text, uint64_t n)
{
    unsigned char* data = m_data.load(std::memory_order_relaxed);
    const uint32_t size = m_size.load(std::memory_order_relaxed);
    const uint32_t offset = static_cast<uint32_t>(p & m_mask.load(std::memory_order_relaxed));
    const uint64_t first = std::min<uint64_t>(n, size - offset);  // bytes up to the end of the ring
    // Everything but the first byte, the wrapped part first; then the first
    // byte, which publishes the whole message to the consumer.
    CopyReplacingEmpty(data, text + first, static_cast<size_t>(n - first));
    CopyReplacingEmpty(data + offset + 1, text + 1, static_cast<size_t>(first - 1));
    PublishByte(data + offset, Stored(text[0]));
}

uint32_t TraceRingBuffer::PublishedChunk(uint64_t from, unsigned char*& start) const
{
    unsigned char* data = m_data.load(std::memory_order_relaxed);
    const uint32_t size = m_size.load(std::memory_order_relaxed);
    const uint32_t offset = static_cast<uint32_t>(from & m_mask.load(std::memory_order_relaxed));
    const uint32_t span = std::min(kLargestChunk, size - offset);
    start = data + offset;
    uint32_t k = 0;
    while (k < span && LoadByte(start + k) != kEmpty) ++k;
    return k;
}

void TraceRingBuffer::ReleaseChunk(unsigned char* start, uint32_t length)
{
    std::memset(start, kEmpty, length);
    m_writeLimit.fetch_add(length, std::memory_order_release);
}

bool TraceRingBuffer::CreateLocked(uint32_t bytes, const TraceRingSink& sink)
{
    if (Exists() || AllocationFailsForTest()) return false;
    auto* data = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(bytes) + 1));
    if (!data) return false;
    if (!m_bounce) m_bounce = static_cast<unsigned char*>(std::malloc(kLargestChunk));  // kept for later rings
    std::memset(data, kEmpty, static_cast<size_t>(bytes) + 1);
    m_sink = sink;
    m_data.store(data, std::memory_order_relaxed);
    m_size.store(bytes, std::memory_order_relaxed);
    m_mask.store(bytes - 1, std::memory_order_relaxed);
    m_wakeThreshold.store(bytes / 128, std::memory_order_relaxed);
    m_writeLimit.store(bytes, std::memory_order_relaxed);
    m_reserved.store(0, std::memory_order_release);  // opens it: pairs with the producers' acquire
    return true;
}

uint64_t TraceRingBuffer::DrainLocked()
{
    if (!Exists() || !m_sink.writeChunk) return 0;
    uint64_t written = 0;
    for (;;) {
        unsigned char* start = nullptr;
        const uint32_t k = PublishedChunk(m_writeLimit.load(std::memory_order_relaxed), start);
        if (k == 0) return written;
        const uint32_t stitched = StitchAcrossEnd(start, k);
        if (stitched > k) {
            m_sink.writeChunk(m_sink.output, reinterpret_cast<const char*>(m_bounce), stitched);
            ReleaseChunk(start, k);
            ReleaseChunk(m_data.load(std::memory_order_relaxed), stitched - k);
            written += stitched;
            continue;
        }
        size_t taken = m_sink.writeChunk(m_sink.output, reinterpret_cast<const char*>(start), k);
        if (taken == 0 || taken > k) taken = k;
        ReleaseChunk(start, static_cast<uint32_t>(taken));
        written += taken;
    }
}

uint32_t TraceRingBuffer::StitchAcrossEnd(const unsigned char* start, uint32_t k)
{
    unsigned char* data = m_data.load(std::memory_order_relaxed);
    const bool atEnd = start + k == data + m_size.load(std::memory_order_relaxed);
    if (!m_bounce || !atEnd || k >= kLargestChunk || std::memchr(start, '\n', k)) return k;
    // The rest of the line, published at the start of the ring.
    uint32_t j = 0;
    bool ended = false;
    while (k + j < kLargestChunk && !ended) {
        const unsigned char byte = LoadByte(data + j);
        if (byte == kEmpty) break;
        ended = byte == '\n';
        ++j;
    }
    if (j == 0) return k;
    std::memcpy(m_bounce, start, k);
    std::memcpy(m_bounce + k, data, j);
    return k + j;
}

uint64_t TraceRingBuffer::Pending() const
{
    const uint64_t reserved = m_reserved.load(std::memory_order_acquire) & ~kClosed;
    const uint64_t consumed = m_writeLimit.load(std::memory_order_acquire) - m_size.load(std::memory_order_relaxed);
    return Exists() && reserved > consumed ? reserved - consumed : 0;
}

void TraceRingBuffer::CloseAndDrainLocked()
{
    if (!Exists()) return;
    const uint64_t last = m_reserved.fetch_or(kClosed, std::memory_order_acq_rel) & ~kClosed;
    const uint64_t size = m_size.load(std::memory_order_relaxed);
    // Producers that reserved before the close finish their copies without any
    // lock; whoever waits for room is given it by the draining.
    for (unsigned long i = 0; m_writeLimit.load(std::memory_order_relaxed) - size < last; ++i) {
        if (DrainLocked() == 0) SleepMilliseconds(i < 10 ? 0 : 1);
    }
}

void TraceRingBuffer::FreeLocked()
{
    unsigned char* data = m_data.exchange(nullptr, std::memory_order_relaxed);
    m_size.store(0, std::memory_order_relaxed);
    m_sink = TraceRingSink();
    std::free(data);
}

bool TraceRingBuffer::DrainForCrashLocked(int fd, long long deadlineNs)
{
    if (!Exists()) return true;
    if (fd < 0) return false;
    for (;;) {
        unsigned char* start = nullptr;
        const uint32_t k = PublishedChunk(m_writeLimit.load(std::memory_order_relaxed), start);
        if (k == 0) {
            if (Pending() == 0) return true;
            if (MonotonicNanoseconds() >= deadlineNs) return false;
            SleepMilliseconds(1);  // a copy in progress on another thread
            continue;
        }
        if (PlatformWrite(fd, start, k) != static_cast<long long>(k)) return false;
        ReleaseChunk(start, k);
    }
}

bool FlushTraceRingForCrash(int timeoutMs)
{
    const int savedErrno = errno;
    const long long deadline = MonotonicNanoseconds() + static_cast<long long>(timeoutMs < 0 ? 0 : timeoutMs) * 1000000LL;
    std::mutex& lock = TraceWriter::Process().WriterLock();
    bool locked = lock.try_lock();
    while (!locked && MonotonicNanoseconds() < deadline) {
        SleepMilliseconds(1);
        locked = lock.try_lock();
    }
    bool done = false;
    if (locked) {
        TraceRingBuffer& ring = TraceRingBuffer::Process();
        const TraceRingSink& sink = ring.SinkLocked();
        done = !ring.Exists() || (sink.descriptor && ring.DrainForCrashLocked(sink.descriptor(sink.output), deadline));
        lock.unlock();
    }
    errno = savedErrno;
    return done;
}

}  // namespace krerrlog
