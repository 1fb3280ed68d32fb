// The process's memory map from Linux's /proc/self/maps.
#include <krerrlog/support/platform/crash/KrProcessMaps.h>

#include <krerrlog/support/platform/crash/KrPlatformPages.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace krerrlog {

namespace {

constexpr size_t kMostRanges = 8192;
constexpr size_t kPathPoolBytes = 512 * 1024;
constexpr size_t kChunkBytes = 16 * 1024;  // longer than any line (paths are at most 4096)

uint64_t ParseHex(const char*& at, const char* end)
{
    uint64_t value = 0;
    for (; at < end; ++at) {
        const char c = *at;
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) break;
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return value;
}

void SkipField(const char*& at, const char* end)
{
    while (at < end && *at != ' ') ++at;
    while (at < end && *at == ' ') ++at;
}

}  // namespace

bool ProcessMaps::Prepare()
{
    if (m_ranges) return true;
    m_ranges = static_cast<MappedRange*>(AllocateCommittedPages(kMostRanges * sizeof(MappedRange)));
    m_paths = static_cast<char*>(AllocateCommittedPages(kPathPoolBytes));
    m_chunk = static_cast<char*>(AllocateCommittedPages(kChunkBytes));
    return m_ranges && m_paths && m_chunk;
}

// "start-end perms offset dev inode   path"
void ProcessMaps::ParseLine(const char* line, size_t length)
{
    if (m_count >= kMostRanges) return;
    const char* at = line;
    const char* end = line + length;
    MappedRange range{};
    range.start = static_cast<uintptr_t>(ParseHex(at, end));
    if (at >= end || *at != '-') return;
    ++at;
    range.end = static_cast<uintptr_t>(ParseHex(at, end));
    while (at < end && *at == ' ') ++at;
    if (end - at < 4) return;
    range.readable = at[0] == 'r';
    range.executable = at[2] == 'x';
    SkipField(at, end);
    range.offset = ParseHex(at, end);
    SkipField(at, end);  // offset's end
    SkipField(at, end);  // device
    SkipField(at, end);  // inode
    const size_t pathLength = static_cast<size_t>(end - at);
    // Consecutive ranges of one image share their path.
    const MappedRange* previous = m_count > 0 ? &m_ranges[m_count - 1] : nullptr;
    if (pathLength == 0) {
        range.pathAt = 0;
        range.pathLength = 0;
        if (m_pathsUsed == 0) m_pathsUsed = 1;  // byte 0 of the pool is the empty path
    } else if (previous && previous->pathLength == pathLength &&
               std::memcmp(m_paths + previous->pathAt, at, pathLength) == 0) {
        range.pathAt = previous->pathAt;
        range.pathLength = previous->pathLength;
    } else {
        if (m_pathsUsed == 0) m_pathsUsed = 1;
        if (m_pathsUsed + pathLength + 1 > kPathPoolBytes) return;
        std::memcpy(m_paths + m_pathsUsed, at, pathLength);
        m_paths[m_pathsUsed + pathLength] = '\0';
        range.pathAt = static_cast<uint32_t>(m_pathsUsed);
        range.pathLength = static_cast<uint32_t>(pathLength);
        m_pathsUsed += pathLength + 1;
    }
    m_ranges[m_count++] = range;
}

bool ProcessMaps::Read()
{
    m_count = 0;
    m_pathsUsed = 1;
    if (!m_ranges) return false;
    m_paths[0] = '\0';
    int fd;
    do {
        fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    size_t filled = 0;
    for (;;) {
        const ssize_t n = ::read(fd, m_chunk + filled, kChunkBytes - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        filled += static_cast<size_t>(n);
        size_t lineStart = 0;
        for (size_t i = 0; i < filled; ++i) {
            if (m_chunk[i] != '\n') continue;
            ParseLine(m_chunk + lineStart, i - lineStart);
            lineStart = i + 1;
        }
        if (lineStart == 0 && filled == kChunkBytes) filled = 0;  // no line end in a whole chunk: drop it
        std::memmove(m_chunk, m_chunk + lineStart, filled - lineStart);
        filled -= lineStart;
    }
    ::close(fd);
    return m_count > 0;
}

const MappedRange* ProcessMaps::Find(uintptr_t address) const
{
    // The kernel lists ranges in address order.
    size_t low = 0, high = m_count;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (m_ranges[middle].end <= address) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low < m_count && m_ranges[low].start <= address ? &m_ranges[low] : nullptr;
}

bool ProcessMaps::Readable(uintptr_t address, size_t length) const
{
    uintptr_t at = address;
    const uintptr_t end = address + length;
    if (end < address) return false;
    while (at < end) {
        const MappedRange* range = Find(at);
        if (!range || !range->readable) return false;
        at = range->end;
    }
    return true;
}

}  // namespace krerrlog
