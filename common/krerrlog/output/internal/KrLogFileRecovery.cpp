#include <krerrlog/output/internal/KrLogFileRecovery.h>

#include <krerrlog/support/platform/KrPlatformFiles.h>
#include <krerrlog/support/platform/KrPlatformThread.h>

#include <cerrno>

namespace krerrlog {

namespace {

bool WriteNewline(int fd) { return PlatformWrite(fd, "\n", 1) == 1; }

// Offset just after the last newline before end, or 0 when there is none; -1 when unreadable.
long long AfterLastNewline(int readable, long long end)
{
    char block[4096];
    while (end > 0) {
        const long long start = end > static_cast<long long>(sizeof block) ? end - static_cast<long long>(sizeof block) : 0;
        const long long n = PlatformReadAt(readable, block, static_cast<size_t>(end - start), start);
        if (n != end - start) return -1;
        for (long long i = n; i-- > 0;) {
            if (block[i] == '\n') return start + i + 1;
        }
        end = start;
    }
    return 0;
}

}  // namespace

bool EndsInsideLine(int fd)
{
    PlatformFileInfo info{};
    if (fd < 0 || !PlatformInfoOf(fd, info) || !info.regular || info.size == 0) return false;
    const int readable = PlatformReopenForReading(fd);
    if (readable < 0) return false;
    bool inside = false;
    for (int look = 0; look < 50; ++look) {
        char last = '\n';
        PlatformFileInfo now{};
        if (look > 0) {
            SleepMilliseconds(1);
            // Grown: a writer is at work, and its line is no fragment.
            if (!PlatformInfoOf(fd, now) || now.size != info.size) {
                inside = false;
                break;
            }
        }
        inside = PlatformReadAt(readable, &last, 1, info.size - 1) == 1 && last != '\n';
        if (!inside) break;
    }
    PlatformClose(readable);
    return inside;
}

bool EndAtLineBoundary(int fd)
{
    PlatformFileInfo info{};
    if (fd < 0 || !PlatformInfoOf(fd, info)) return false;
    if (info.regular) {
        const int readable = PlatformReopenForReading(fd);
        const long long cut = readable < 0 ? -1 : AfterLastNewline(readable, info.size);
        if (readable >= 0) PlatformClose(readable);
        if (cut == info.size) return true;
        if (cut >= 0 && PlatformTruncate(fd, cut)) return true;
    }
    return WriteNewline(fd);
}

bool IsStillAtPath(int fd, const char* path)
{
    PlatformFileInfo open{};
    if (fd < 0 || !path || !PlatformInfoOf(fd, open) || !open.regular) return true;
    if (open.links == 0) return false;
    PlatformFileInfo named{};
    if (!PlatformInfoOfPath(path, named, true)) return errno != ENOENT;  // an unreadable path proves nothing
    return named.device == open.device && named.inode == open.inode;
}

bool IsRegularFileEntry(const std::string& path)
{
    PlatformFileInfo info{};
    return PlatformInfoOfPath(path.c_str(), info, false) && info.regular;
}

}  // namespace krerrlog
