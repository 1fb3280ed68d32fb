// The process-wide in-memory trace area: one circular stretch of memory that
// keeps the most recent trace text, its fill position, the two header lines
// and the prefix of dump file names. CKrInMemoryOutput drives it; the dump
// routines (KrInMemoryDump.h) read it, also from a crashing thread.
//
// Storing: a message is stored whole and contiguous. Its place is reserved
// under the area lock; the copy itself runs outside the lock, so copies of
// several threads run in parallel into disjoint ranges. A message that does
// not fit in the rest of the area goes to its start and the rest is zeroed.
//
// Copies in progress are counted. That count is what makes the area safe to
// free and to dump while other threads log:
//   - switching off and dumping first pause the area (under the lock, so no
//     new reservation follows), then wait until the count is 0;
//   - a wrap to the start waits, under the lock, until the copies of the
//     previous lap are done, so a copy that was slow to finish is never
//     overwritten by the next lap and never overwrites it: no stored line is
//     ever torn or mixed with another.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
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

    // Allocates the area zero-filled at the configured capacity, or else at
    // the default of 100,000,000 bytes (fellBack tells). An existing area is
    // returned as it is. Null when no memory can be had.
    char* Enable(bool& fellBack);
    // Pauses the area, waits for every copy and dump in progress, then frees it.
    void Disable();

    // Stores one message (see the top of this file). False when there is no
    // area, no text, a negative length or a message longer than the whole
    // area; true, storing nothing, while the area is paused.
    bool Store(const char* text, int length);

    char* Area() const { return m_pArea.load(std::memory_order_acquire); }
    uint64_t Capacity() const;
    uint64_t AllocationSize() const;
    uint64_t Offset() const;
    bool Wrapped() const;

    // Keeps copies of both header lines, written at the top of a dump of a
    // wrapped area.
    void SetHeaders(const char* first, size_t firstLength, const char* second, size_t secondLength);
    // Null forgets the prefix.
    void SetDumpPrefix(const char* prefix);
    // The prefix, or null when none was set; valid until the next SetDumpPrefix.
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
    void EndCopy() { m_iCopies.fetch_sub(1, std::memory_order_release); }

    // Waits for the copies in progress; false when the limit passed first.
    bool WaitForCopies(bool bounded) const;

    // Guards everything below it up to m_iDumps; held only for a reservation.
    mutable std::mutex m_areaLock;
    std::atomic<char*> m_pArea;
    uint64_t m_iCapacity;
    uint64_t m_iAllocationSize;
    uint64_t m_iOffset;
    bool m_bWrapped;
    // Pauses in force: one per dump running, one from switch-off to the next
    // allocation. Messages are dropped while it is not 0.
    int m_iPauses;
    int m_iDumps;
    // Reserved under the lock, released after the copy without it.
    std::atomic<int> m_iCopies;

    // Guards the header lines and the dump prefix (never on the store path).
    std::timed_mutex m_textLock;
    std::string m_firstHeader;
    std::string m_secondHeader;
    std::string m_dumpPrefix;
    bool m_bHasDumpPrefix;
};

// Test seam: the next count allocations of the area fail as if memory were short.
void FailNextTraceAreaAllocations(int count);

}  // namespace krerrlog
