#include <krerrlog/output/internal/KrCrossProcessRollover.h>

#include <krerrlog/support/platform/KrPlatformFileLock.h>
#include <krerrlog/support/platform/KrPlatformThread.h>

namespace krerrlog {

namespace {
constexpr int kAttempts = 2000;  // one millisecond apart
}

CrossProcessRollover::CrossProcessRollover(int fd) : m_fd(-1), m_held(false), m_mayRollOver(true)
{
    m_fd = OpenFileLockHandle(fd);
    if (m_fd < 0) return;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const FileLockTry tried = TryLockFileExclusive(m_fd);
        if (tried == FileLockTry::Locked) {
            m_held = true;
            return;
        }
        if (tried == FileLockTry::Unsupported) return;  // no locks on this file system
        SleepMilliseconds(1);
    }
    m_mayRollOver = false;
}

CrossProcessRollover::~CrossProcessRollover()
{
    if (m_fd < 0) return;
    if (m_held) UnlockFile(m_fd);
    CloseFileLockHandle(m_fd);
}

}  // namespace krerrlog
