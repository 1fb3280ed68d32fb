// The memory map of the process (/proc/self/maps) read by a crashing thread
// into tables allocated beforehand: which image holds an address, and whether
// an address can be read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace krerrlog {

struct MappedRange {
    uintptr_t start;
    uintptr_t end;        // one past the last byte
    uint64_t offset;      // file offset mapped at start
    uint32_t pathAt;      // into the path pool; pathLength 0 for anonymous memory
    uint32_t pathLength;
    bool readable;
    bool executable;
};

class ProcessMaps {
public:
    // Allocates the tables (not at a crash). False when memory is short.
    bool Prepare();
    // Reads the map afresh (async-signal-safe). Ranges beyond the tables'
    // room are left out. False when the map cannot be read.
    bool Read();

    // The range holding address, or null.
    const MappedRange* Find(uintptr_t address) const;
    // The image path of a range ("" for anonymous memory), NUL-terminated.
    const char* Path(const MappedRange& range) const { return m_paths + range.pathAt; }
    // True when [address, address + length) lies in readable ranges.
    bool Readable(uintptr_t address, size_t length) const;

private:
    void ParseLine(const char* line, size_t length);

    MappedRange* m_ranges = nullptr;
    size_t m_count = 0;
    char* m_paths = nullptr;
    size_t m_pathsUsed = 0;
    char* m_chunk = nullptr;
};

}  // namespace krerrlog
