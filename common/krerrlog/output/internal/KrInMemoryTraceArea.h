// The process-wide in-memory trace area: one circular stretch of memory that
// keeps the most recent trace text, its fill position, the two header lines
// and the prefix of dump file names. CKrInMemoryOutput drives it; the dump
// routines (KrInMemoryDump.h) read it, also from a crashing thread.
//
// Storing: a message is stored whole and contiguous. Its place is reserved
// with one compare-and-swap on a state word that holds the fill position and
// the number of copies in progress; the copy itself runs without any lock, so
// copies of several threads run in parallel into disjoint ranges. A message
// that does not fit in the rest of the area goes to its start and the rest is
// zeroed: that wrap, switching off and dumping take the area lock and set the
// state word's blocked bit, which sends every other store to that lock.
//
// The count of copies in progress is what makes the area safe to free and to
// dump while other threads log:
//   - switching off and dumping block the area and pause it (new stores are
//     dropped), then wait until the count is 0;
//   - a wrap to the start blocks the area and waits until the copies of the
//     previous lap are done, so a copy that was slow to finish is never
//     overwritten by the next lap and never overwrites it: no stored line is
//     ever torn or mixed with another.
#pragma once

#include <krerrlog/support/internal/KrMutex.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace krerrlog {

constexpr uint64_t kBytesPerTraceMegabyte = 1000000;
constexpr int kDefaultTraceAreaMegabytes = 100;
constexpr int kLargestTraceAreaMegabytes = 2048;

class InMemoryTraceArea {
public:
    // The one area of the process. Never destroyed, so threads still tracing
    // while the process exits find it intact.
    static InMemoryTraceArea& Process();

    // Sets the capacity (bytes) and puts the fill position back to the start.
    // False, changing nothing, while the area exists.
    bool Configure(uint64_t capacity);

    // One output's share in the area: the outputs that switched the area on
    // use it together, and it is freed when the last of them lets it go. A
    // share is the generation of the area it is in; 0 is no share.
    using Share = uint64_t;

    // Allocates the area zero-filled at the configured capacity, or else at
    // the default of 100,000,000 bytes (fellBack tells), and forgets the
    // header lines. An existing area is returned as it is. Either way share
    // becomes a share in it (once per output). Null when no memory can be had.
    char* Enable(bool& fellBack, Share& share);
    // Switches off for every user: pauses the area, waits for every copy and
    // dump in progress, then frees it.
    void Disable();
    // Gives up one share; the area is switched off (as by Disable) only when
    // it was the last share in it. A share in an area already switched off
    // is simply dropped.
    void Release(Share& share);

    // Stores one message (see the top of this file). False when there is no
    // area, no text, a negative length or a message longer than the whole
    // area; true, storing nothing, while the area is paused.
    bool Store(const char* text, int length);

    char* Area() const { return m_pArea.load(std::memory_order_acquire); }
    uint64_t Offset() const { return m_state.load(std::memory_order_acquire) & kOffsetMask; }
    uint64_t Capacity() const;
    uint64_t AllocationSize() const;
    bool Wrapped() const;

    // Keeps copies of both header lines, written at the top of a dump of a
    // wrapped area.
    void SetHeaders(const char* first, size_t firstLength, const char* second, size_t secondLength);
    // Null forgets the prefix.
    void SetDumpPrefix(const char* prefix);
    // The prefix, or null when none was set. The text is the calling thread's
    // own copy, valid until that thread asks again: another thread may set a
    // new prefix meanwhile without pulling it from under the caller.
    char* DumpPrefix();
    // Copies the prefix ("" when none) into out; false when it does not fit or
    // the prefix could not be read in time (a crashing thread does not wait
    // for long).
    bool CopyDumpPrefix(char* out, size_t size, bool atCrash);

    // Writes the dump content to fd: for a crash dump the "Last Lines" title;
    // after a wrap the headers and the older part; then the newer part.
    // Messages logged meanwhile are dropped. A crashing thread waits only a
    // bounded time for copies in progress (it may be one of them). True when
    // every byte was written or there was no area.
    bool WriteDump(int fd, bool atCrash);

private:
    friend class InMemoryTraceAreaTestPeer;

    InMemoryTraceArea();
    ~InMemoryTraceArea() = delete;

    // The two halves of Store. Reserve returns where n bytes go and counts a
    // copy in progress (null with stored false when refused, null with stored
    // true when paused); EndCopy ends that copy.
    char* Reserve(uint64_t n, bool& stored);
    void EndCopy() { m_state.fetch_sub(kOneCopy, std::memory_order_release); }

    // Waits for the copies in progress; false when the limit passed first.
    bool WaitForCopies(bool bounded) const;

    // The state word: fill position (bits 0-31; areas stay below 2^31
    // bytes), copies in progress (bits 32-62, one kOneCopy each), blocked (bit
    // 63: stores must take the area lock).
    static constexpr uint64_t kOffsetMask = 0xffffffffull;
    static constexpr uint64_t kOneCopy = 1ull << 32;
    static constexpr uint64_t kBlocked = 1ull << 63;
    static constexpr uint64_t kCopiesMask = ~kOffsetMask & ~kBlocked;

    // Reserve when the fast path cannot: paused, blocked, or a wrap is due.
    char* ReserveLocked(uint64_t n, bool& stored) KRERRLOG_REQUIRES(m_areaLock);
    // Counts share into the area switched on now, once; returns area.
    char* JoinLocked(char* area, Share& share) KRERRLOG_REQUIRES(m_areaLock);
    // Disable, or Release of the last share (share not null).
    void SwitchOff(Share* share);
    // Blocks the area and adds a pause; the caller holds the area lock.
    void PauseLocked() KRERRLOG_REQUIRES(m_areaLock);
    // Takes a pause away; the area is unblocked when none is left. The caller
    // holds the area lock.
    void ResumeLocked() KRERRLOG_REQUIRES(m_areaLock);

    // The three atomics follow the protocol above: m_state is the word the
    // fast path claims with acq_rel; m_pArea is published (release) before the
    // state word unblocks; m_iAllocationSize is changed under the area lock
    // only while the area is blocked, so the fast path reads it relaxed after
    // its acquire load of an unblocked state (Reserve).
    std::atomic<uint64_t> m_state;
    std::atomic<char*> m_pArea;
    std::atomic<uint64_t> m_iAllocationSize;

    // Guards the rest and serialises wraps, pauses, switching on and off.
    // Taken before m_textLock when both are held.
    mutable Mutex m_areaLock KRERRLOG_ACQUIRED_BEFORE(m_textLock);
    uint64_t m_iCapacity KRERRLOG_GUARDED_BY(m_areaLock);
    bool m_bWrapped KRERRLOG_GUARDED_BY(m_areaLock);
    // Pauses in force: one per dump running, one from switch-off to the next
    // allocation. Messages are dropped while it is not 0.
    int m_iPauses KRERRLOG_GUARDED_BY(m_areaLock);
    int m_iDumps KRERRLOG_GUARDED_BY(m_areaLock);
    // Shares in the area switched on now; its generation grows with every
    // switch-off, which voids the shares in the area before.
    int m_iShares KRERRLOG_GUARDED_BY(m_areaLock);
    uint64_t m_iGeneration KRERRLOG_GUARDED_BY(m_areaLock);

    // Guards the header lines and the dump prefix (never on the store path).
    Mutex m_textLock;
    std::string m_firstHeader KRERRLOG_GUARDED_BY(m_textLock);
    std::string m_secondHeader KRERRLOG_GUARDED_BY(m_textLock);
    std::string m_dumpPrefix KRERRLOG_GUARDED_BY(m_textLock);
    bool m_bHasDumpPrefix KRERRLOG_GUARDED_BY(m_textLock);
};

// Test seam: the next count allocations of the area fail as if memory were short.
void FailNextTraceAreaAllocations(int count);
// Test seam: called by Enable between allocating an area and publishing it
// (null: nothing), where two threads switching on at once can meet.
void SetTraceAreaAfterAllocationHook(void (*hook)());

}  // namespace krerrlog
