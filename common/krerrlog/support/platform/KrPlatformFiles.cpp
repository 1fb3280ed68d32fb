// Files and descriptors on POSIX, with Linux's no-replace rename and /proc.
#include <krerrlog/support/platform/KrPlatformFiles.h>

#include <krerrlog/support/internal/KrFileOps.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace krerrlog {

static_assert(kLongestPath == PATH_MAX, "the platform's longest path");
static_assert(kStandardOutput == STDOUT_FILENO && kStandardError == STDERR_FILENO, "the standard descriptors");

namespace {

int ToPosixFlags(int flags)
{
    int posix = O_CLOEXEC;
    if (flags & KR_O_RDWR) {
        posix |= O_RDWR;
    } else if (flags & KR_O_WRONLY) {
        posix |= O_WRONLY;
    } else {
        posix |= O_RDONLY;
    }
    if (flags & KR_O_APPEND) posix |= O_APPEND;
    if (flags & KR_O_CREAT) posix |= O_CREAT;
    if (flags & KR_O_TRUNC) posix |= O_TRUNC;
    if (flags & KR_O_EXCL) posix |= O_EXCL;
    return posix;
}

int OpenResumed(const char* path, int flags, mode_t mode)
{
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void ToInfo(const struct stat& from, PlatformFileInfo& info)
{
    info.size = static_cast<long long>(from.st_size);
    info.regular = S_ISREG(from.st_mode);
    info.folder = S_ISDIR(from.st_mode);
    info.links = static_cast<unsigned long>(from.st_nlink);
    info.device = static_cast<unsigned long long>(from.st_dev);
    info.inode = static_cast<unsigned long long>(from.st_ino);
}

}  // namespace

int PlatformOpen(const char* path, int flags, int permission)
{
    mode_t mode = 0;
    if (permission & KR_S_IREAD) mode |= S_IRUSR;
    if (permission & KR_S_IWRITE) mode |= S_IWUSR;
    const int fd = OpenResumed(path, ToPosixFlags(flags) | O_NONBLOCK, mode);
    if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int PlatformCreateForCrash(const char* path) { return OpenResumed(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600); }

int PlatformReopenForReading(int fd)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    return ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

int PlatformClose(int fd) { return ::close(fd); }

long long PlatformWrite(int fd, const void* data, std::size_t count)
{
    const char* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return done > 0 ? static_cast<long long>(done) : -1;
        }
        if (n == 0) break;  // nothing taken and no error: do not spin
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
}

long long PlatformRead(int fd, void* buffer, std::size_t count)
{
    ssize_t n;
    do {
        n = ::read(fd, buffer, count);
    } while (n < 0 && errno == EINTR);
    return n;
}

long long PlatformReadAt(int fd, void* buffer, std::size_t count, long long offset)
{
    ssize_t n;
    do {
        n = ::pread(fd, buffer, count, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    return n;
}

bool PlatformTruncate(int fd, long long length)
{
    if (::ftruncate(fd, static_cast<off_t>(length)) != 0) return false;
    ::lseek(fd, 0, SEEK_END);  // a descriptor without append mode writes on from there
    return true;
}

bool PlatformInfoOf(int fd, PlatformFileInfo& info)
{
    struct stat raw{};
    if (::fstat(fd, &raw) != 0) return false;
    ToInfo(raw, info);
    return true;
}

bool PlatformInfoOfPath(const char* path, PlatformFileInfo& info, bool followLinks)
{
    struct stat raw{};
    if ((followLinks ? ::stat(path, &raw) : ::lstat(path, &raw)) != 0) return false;
    ToInfo(raw, info);
    return true;
}

bool PlatformPathIsFolder(const char* path)
{
    PlatformFileInfo info{};
    return PlatformInfoOfPath(path, info, true) && info.folder;
}

bool PlatformAccess(const char* path, int mode) { return ::access(path, mode == 0 ? F_OK : mode) == 0; }

int PlatformRenameNoReplace(const char* from, const char* to)
{
    if (syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // File systems without the no-replace flag: a hard link refuses an existing
    // target just the same, then the old name goes.
    if (::link(from, to) != 0) return -1;
    if (::unlink(from) != 0) {
        int error = errno;
        ::unlink(to);
        errno = error;
        return -1;
    }
    return 0;
}

int PlatformUnlink(const char* path) { return ::unlink(path); }

bool StandardOutputIsOpen() { return ::fcntl(STDOUT_FILENO, F_GETFD) != -1; }

}  // namespace krerrlog
