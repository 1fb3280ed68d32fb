// The process-wide ring buffer of buffered trace writing: producers copy trace
// lines into it without a lock, and the one consumer holding the writer lock
// (the writer thread, Flush, the switch-off, the crash flush) drains it into
// the buffered file output in chunks of up to 64 KiB.
//
// Positions are running totals of bytes; total t lies at byte t & mask of a
// ring of 2^20 to 2^29 bytes (plus one byte past the end that always holds
// 0xFE). A byte that holds no text waiting to be written is 0xFE, and text in
// the ring never holds 0xFE (a 0xFE byte of a message is stored as '?'), so the
// consumer finds where published text ends by looking for the first 0xFE.
//
// Producer (Produce), for a message of n bytes:
//   1. p = m_reserved.fetch_add(n, acquire): one atomic addition reserves the
//      bytes [p, p + n). Acquire pairs with the release store that opened the
//      ring, so the producer sees the ring's memory, size and mask. If the
//      closed bit (bit 63) was set the ring is closed: nothing was reserved
//      that anyone waits for, the producer touches nothing and reports Closed.
//   2. Waits until m_writeLimit.load(acquire) >= p + n (the consumer has
//      written out and refilled with 0xFE the bytes of the previous lap; the
//      acquire pairs with the consumer's release, so those 0xFE stores happen
//      before the producer's copy). While fewer than size/128 bytes of room
//      lie ahead of p, it wakes the writer thread; while the ring is full it
//      sleeps 0, 1, 2 ... ms between looks.
//   3. Copies all bytes but the first with plain stores (wrapping at the end
//      of the ring), then publishes the first byte with a release store. The
//      consumer stops at the first byte of every message still being copied,
//      so it never reads a byte that is being written, and a message is
//      drained only once it is whole.
//   A message longer than the ring (possible only for a producer that read
//   the size of an earlier ring before it reserved) is copied in pieces of at
//   most the ring's size, each published the same way.
//
// Consumer (DrainLocked), holding the writer lock:
//   1. start = m_writeLimit (relaxed: only lock holders change it) & mask.
//   2. Reads bytes from start with acquire loads up to the first 0xFE, at most
//      64 KiB and never past the end of the ring; each acquire that finds a
//      published first byte makes the rest of that message visible.
//   3. Hands the chunk to the sink, which takes all of it or its whole lines
//      only, fills what was taken with 0xFE and then adds its length to
//      m_writeLimit with release, handing the bytes back to producers.
//   Drainers follow one another under the writer lock, which orders their
//   plain reads and 0xFE stores. A line that crosses the end of the ring is
//   written in one piece through a 64 KiB bounce buffer (lines longer than
//   64 KiB are written in several writes).
//
// Closing (Close): m_reserved.fetch_or(closed bit) returns the final total R;
// every reservation below R belongs to a producer that will copy its bytes, and
// none is made after. Draining until m_writeLimit - size == R writes every
// accepted line; only then may the memory be freed. m_data, m_size, m_mask and
// m_wakeThreshold are atomics read relaxed: they change only while the ring is
// closed, and a producer that reserved reads them after its acquire.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace krerrlog {

class TraceWriter;

// Where drained text goes: the buffered file output, through plain functions so
// that the ring knows nothing of the output class.
struct TraceRingSink {
    void* output = nullptr;
    // Rolls the file over if due (at a line boundary) and writes the chunk,
    // or only its first part; returns the bytes taken (at least one), the rest
    // stays in the ring and begins the next chunk.
    size_t (*writeChunk)(void* output, const char* chunk, size_t length) = nullptr;
    // The descriptor of the open file (-1 when none), for the crash flush.
    int (*descriptor)(void* output) = nullptr;
    // The output's buffering flag, cleared (release) when buffered writing
    // stops; see CKrFileOutput::m_bBuffering.
    std::atomic<bool>* bufferingFlag = nullptr;
};

class TraceRingBuffer {
public:
    static constexpr unsigned char kEmpty = 0xFE;
    static constexpr unsigned char kEmptyReplacement = '?';
    static constexpr uint32_t kLargestChunk = 65536;
    static constexpr uint32_t kSmallestSize = 1u << 20;

    // The one ring of the process. Never destroyed, so threads still tracing
    // while the process exits find it intact.
    static TraceRingBuffer& Process();

    // Ring bytes for a configured number of megabytes: 2^(20 + e), e = 0 up to
    // 1 MB, else the smallest e with 2^e >= m, values above 512 counting as 512.
    static uint32_t BytesForMegabytes(uint32_t megabytes);

    enum class Produced {
        Stored,   // the text is in the ring
        Dropped,  // no text, or longer than the ring: nothing stored
        Closed,   // no ring, or it is being closed: the caller writes directly
    };
    // Copies the text into the ring (protocol above). No lock, no allocation,
    // no system call unless the ring is (nearly) full.
    Produced Produce(const char* text, uint64_t length);

    // The calls below are made with the writer lock held.

    // Allocates a ring of the given bytes filled with 0xFE and opens it
    // (reserved 0, write limit = size). False, leaving it closed, when the
    // memory cannot be had or a ring exists.
    bool CreateLocked(uint32_t bytes, const TraceRingSink& sink);
    // Writes every published chunk to the sink. Returns the bytes written.
    uint64_t DrainLocked();
    // Closes the ring to new reservations and drains it until every byte
    // reserved before has been written (waiting for copies in progress).
    void CloseAndDrainLocked();
    // Frees the memory of a closed, drained ring and forgets the sink.
    void FreeLocked();

    bool Exists() const { return m_data.load(std::memory_order_relaxed) != nullptr; }
    uint32_t Size() const { return m_size.load(std::memory_order_relaxed); }
    uint32_t WakeThreshold() const { return m_wakeThreshold.load(std::memory_order_relaxed); }
    const TraceRingSink& SinkLocked() const { return m_sink; }
    // Bytes reserved and not yet written out (tests, the crash flush).
    uint64_t Pending() const;

    // The crash flush's drain: writes published chunks straight to fd with
    // write(), without rolling over; waits for copies in progress until the
    // deadline (MonotonicNanoseconds()). True when nothing is left.
    bool DrainForCrashLocked(int fd, long long deadlineNs);

private:
    friend class TraceRingBufferTestPeer;

    TraceRingBuffer();
    ~TraceRingBuffer() = delete;

    // The length of the published text from total position `from`, at most
    // 64 KiB and never past the end of the ring.
    uint32_t PublishedChunk(uint64_t from, unsigned char*& start) const;
    void ReleaseChunk(unsigned char* start, uint32_t length);
    // A chunk that ends at the end of the ring inside a line is copied to the
    // bounce buffer with the rest of that line from the start of the ring, so
    // the line goes out in one write. Returns the stitched length (k when
    // nothing was stitched).
    uint32_t StitchAcrossEnd(const unsigned char* start, uint32_t k);
    // Waits until the bytes [p, p + n) may be filled.
    void WaitForRoom(uint64_t p, uint64_t n);
    // Copies n bytes (n <= size) to total position p and publishes them.
    void CopyAndPublish(uint64_t p, const char* text, uint64_t n);

    static constexpr uint64_t kClosed = 1ull << 63;

    // Orderings of all six: the protocol at the top of this file (the geometry,
    // data to threshold, is stored relaxed before the release that opens the ring).
    std::atomic<uint64_t> m_reserved;
    std::atomic<uint64_t> m_writeLimit;
    std::atomic<unsigned char*> m_data;
    std::atomic<uint32_t> m_size;
    std::atomic<uint32_t> m_mask;
    std::atomic<uint32_t> m_wakeThreshold;
    unsigned char* m_bounce;  // 64 KiB, used under the writer lock
    TraceWriter& m_monitor;  // the writer lock and condition
    TraceRingSink m_sink;    // set and read under the writer lock
};

// Test seam: the next count ring allocations fail as if memory were short.
void FailNextTraceRingAllocations(int count);

// Called from a crash handler (a signal handler) before the process dies:
// writes the text waiting in the ring to the buffered file output's open file.
// Guarantees:
//   - only async-signal-safe work on its path: the writer lock is taken with
//     try-lock in a loop bounded by timeoutMs (sleeping with nanosleep), the
//     text goes out with write(), nothing is allocated, no roll-over is done
//     (the file may grow past its limit by what the ring held);
//   - every line whose copy into the ring was complete is written once, in
//     ring order; a line still being copied (by a thread that is itself
//     stopped, or slow) is waited for until the time is up, and it and every
//     line behind it are then left unwritten;
//   - returns true when the ring is empty afterwards (or there is none);
//     false when the writer lock stayed taken for timeoutMs (the writer thread
//     or a Flush is writing, perhaps on the crashed thread), when a write
//     failed, or when time ran out waiting for a copy.
// It leaves buffered mode on: lines logged afterwards still go to the ring.
bool FlushTraceRingForCrash(int timeoutMs);

}  // namespace krerrlog
