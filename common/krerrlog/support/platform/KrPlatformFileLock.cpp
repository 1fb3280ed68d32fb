// Advisory whole-file locks with flock on a descriptor of the lock's own.
#include <krerrlog/support/platform/KrPlatformFileLock.h>

#include <krerrlog/support/platform/KrPlatformFiles.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace krerrlog {

int OpenFileLockHandle(int fd)
{
    if (fd < 0) return -1;
    const int handle = PlatformReopenForReading(fd);
    return handle >= 0 ? handle : ::fcntl(fd, F_DUPFD_CLOEXEC, 0);  // no /proc: shared with forked children
}

FileLockTry TryLockFileExclusive(int handle)
{
    if (::flock(handle, LOCK_EX | LOCK_NB) == 0) return FileLockTry::Locked;
    return errno == EWOULDBLOCK || errno == EINTR ? FileLockTry::Busy : FileLockTry::Unsupported;
}

void UnlockFile(int handle) { ::flock(handle, LOCK_UN); }

void CloseFileLockHandle(int handle) { ::close(handle); }

}  // namespace krerrlog
