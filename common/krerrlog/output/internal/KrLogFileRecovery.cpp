#include <krerrlog/output/internal/KrLogFileRecovery.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace krerrlog {

namespace {

// A descriptor that reads the same file as fd (which is write-only), or -1.
int OpenForReading(int fd)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    return ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

bool WriteNewline(int fd)
{
    ssize_t n;
    do {
        n = ::write(fd, "\n", 1);
    } while (n < 0 && errno == EINTR);
    return n == 1;
}

// Offset just after the last newline before end, or 0 when there is none; -1 when unreadable.
long long AfterLastNewline(int readable, long long end)
{
    char block[4096];
    while (end > 0) {
        const long long start = end > static_cast<long long>(sizeof block) ? end - sizeof block : 0;
        const ssize_t n = ::pread(readable, block, static_cast<size_t>(end - start), start);
        if (n != end - start) return -1;
        for (ssize_t i = n; i-- > 0;) {
            if (block[i] == '\n') return start + i + 1;
        }
        end = start;
    }
    return 0;
}

}  // namespace

bool EndsInsideLine(int fd)
{
    struct stat info{};
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) return false;
    const int readable = OpenForReading(fd);
    if (readable < 0) return false;
    bool inside = false;
    for (int look = 0; look < 50; ++look) {
        char last = '\n';
        struct stat now{};
        if (look > 0) {
            const timespec pause{0, 1000000};  // 1 ms
            ::nanosleep(&pause, nullptr);
            // Grown: a writer is at work, and its line is no fragment.
            if (fstat(fd, &now) != 0 || now.st_size != info.st_size) {
                inside = false;
                break;
            }
        }
        inside = ::pread(readable, &last, 1, info.st_size - 1) == 1 && last != '\n';
        if (!inside) break;
    }
    ::close(readable);
    return inside;
}

bool EndAtLineBoundary(int fd)
{
    struct stat info{};
    if (fd < 0 || fstat(fd, &info) != 0) return false;
    if (S_ISREG(info.st_mode)) {
        const int readable = OpenForReading(fd);
        const long long cut = readable < 0 ? -1 : AfterLastNewline(readable, info.st_size);
        if (readable >= 0) ::close(readable);
        if (cut == info.st_size) return true;
        if (cut >= 0 && ::ftruncate(fd, cut) == 0) {
            ::lseek(fd, 0, SEEK_END);  // a descriptor without append mode writes on from there
            return true;
        }
    }
    return WriteNewline(fd);
}

bool IsStillAtPath(int fd, const char* path)
{
    struct stat open{};
    if (fd < 0 || !path || fstat(fd, &open) != 0 || !S_ISREG(open.st_mode)) return true;
    if (open.st_nlink == 0) return false;
    struct stat named{};
    if (::stat(path, &named) != 0) return errno != ENOENT;  // an unreadable path proves nothing
    return named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

bool IsRegularFileEntry(const std::string& path)
{
    struct stat info{};
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace krerrlog
