#include <krerrlog/support/internal/KrFileOps.h>

#include <krerrlog/support/platform/KrForkSafety.h>
#include <krerrlog/support/internal/KrNeverDestroyed.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace krerrlog {
namespace {

struct Fault {
    FileOp op;
    int error;
    int remaining;
    std::string pathPart;
};

// Injected faults are rare (tests only); the flag keeps the normal path free of
// the lock. Release when set, acquire when read: the faults are then read under g_faultMutex.
std::atomic<bool> g_anyFault{false};
std::mutex g_faultMutex;
std::vector<Fault>& Faults()
{
    static NeverDestroyed<std::vector<Fault>> faults;
    return faults.Get();
}

// True (with errno set) when an injected fault claims this call.
bool TakeFault(FileOp op, const char* path)
{
    if (!g_anyFault.load(std::memory_order_acquire)) return false;
    std::lock_guard<std::mutex> lock(g_faultMutex);
    for (auto& fault : Faults()) {
        if (fault.op != op || fault.remaining <= 0) continue;
        if (!fault.pathPart.empty() && (!path || !std::strstr(path, fault.pathPart.c_str()))) continue;
        --fault.remaining;
        errno = fault.error;
        return true;
    }
    return false;
}

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

}  // namespace

void InjectFileFault(FileOp op, int error, int times, const char* pathPart)
{
    static const bool forkSafe = RegisterForkSafeLock(kForkOrderLeaf, g_faultMutex);
    (void)forkSafe;
    std::lock_guard<std::mutex> lock(g_faultMutex);
    Faults().push_back(Fault{op, error, times, pathPart ? pathPart : ""});
    g_anyFault.store(true, std::memory_order_release);
}

void ClearFileFaults()
{
    std::lock_guard<std::mutex> lock(g_faultMutex);
    Faults().clear();
    g_anyFault.store(false, std::memory_order_release);
}

ssize_t FileWrite(int fd, const void* data, size_t count)
{
    if (TakeFault(FileOp::Write, nullptr)) return -1;
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    size_t limit = count;
    int shortError = 0;
    if (TakeFault(FileOp::ShortWrite, nullptr)) {
        shortError = errno;
        limit = count / 2;
        if (limit == 0) return -1;
    }
    while (done < limit) {
        ssize_t n = ::write(fd, bytes + done, limit - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        }
        done += static_cast<size_t>(n);
    }
    if (shortError != 0) errno = shortError;
    return static_cast<ssize_t>(done);
}

int FileClose(int fd)
{
    if (TakeFault(FileOp::Close, nullptr)) {
        ::close(fd);  // the descriptor is gone either way, as with a real failing close
        return -1;
    }
    return ::close(fd);
}

long long FileSize(int fd)
{
    struct stat info{};
    if (fstat(fd, &info) != 0) return -1;
    return static_cast<long long>(info.st_size);
}

}  // namespace krerrlog

using krerrlog::FileOp;
using krerrlog::TakeFault;

int KrOpen(const char* path, int flags, int permission)
{
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    if (TakeFault(FileOp::Open, path)) return -1;
    mode_t mode = 0;
    if (permission & KR_S_IREAD) mode |= S_IRUSR;
    if (permission & KR_S_IWRITE) mode |= S_IWUSR;
    int fd;
    do {
        fd = ::open(path, krerrlog::ToPosixFlags(flags) | O_NONBLOCK, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int KrAccess(const char* path, int mode)
{
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    if (TakeFault(FileOp::Access, path)) return -1;
    return ::access(path, mode == 0 ? F_OK : mode) == 0 ? 0 : -1;
}

int KrRename(const char* from, const char* to)
{
    if (!from || !to) {
        errno = EINVAL;
        return -1;
    }
    if (TakeFault(FileOp::Rename, from)) return -1;
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

int KrUnlink(const char* path)
{
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    if (TakeFault(FileOp::Unlink, path)) return -1;
    return ::unlink(path);
}
