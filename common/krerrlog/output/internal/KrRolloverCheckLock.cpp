#include <krerrlog/output/internal/KrRolloverCheckLock.h>

#include <krerrlog/support/platform/KrForkSafety.h>
#include <krerrlog/support/internal/KrNeverDestroyed.h>

namespace krerrlog {

std::mutex& RolloverCheckLock()
{
    // Never destroyed: threads may still log while static objects are torn down.
    static NeverDestroyed<std::mutex> lock;
    static const bool registered = RegisterForkSafeLock(kForkOrderRolloverCheck, lock.Get());
    (void)registered;
    return lock.Get();
}

}  // namespace krerrlog
