// The asymmetric barrier through Linux's private expedited membarrier.
#include <krerrlog/support/platform/KrPlatformBarrier.h>

#include <krerrlog/support/platform/KrSavedErrorCodes.h>

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace krerrlog {

namespace {

int Membarrier(int command) { return static_cast<int>(syscall(SYS_membarrier, command, 0, 0)); }

}  // namespace

bool ProcessBarrierAvailable()
{
    static const bool available = [] {
        SavedErrorCodes keepErrors;
        return Membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0;
    }();
    return available;
}

void IssueProcessBarrier()
{
    SavedErrorCodes keepErrors;
    Membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED);
}

}  // namespace krerrlog
