#include <krerrlog/output/internal/KrCrossProcessRollover.h>

#include <krerrlog/support/platform/KrPlatformThread.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace krerrlog {

namespace {
constexpr int kAttempts = 2000;  // one millisecond apart
}

CrossProcessRollover::CrossProcessRollover(int fd) : m_fd(-1), m_held(false), m_mayRollOver(true)
{
    if (fd < 0) return;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    m_fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0) m_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);  // no /proc: shared with forked children
    if (m_fd < 0) return;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
            m_held = true;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) return;  // no locks on this file system
        SleepMilliseconds(1);
    }
    m_mayRollOver = false;
}

CrossProcessRollover::~CrossProcessRollover()
{
    if (m_fd < 0) return;
    if (m_held) ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
}

}  // namespace krerrlog
