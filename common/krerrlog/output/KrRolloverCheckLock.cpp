#include <krerrlog/output/KrRolloverCheckLock.h>

#include <krerrlog/support/platform/KrForkSafety.h>

namespace krerrlog {

std::mutex& RolloverCheckLock()
{
    // Never destroyed: threads may still log while static objects are torn down.
    static std::mutex* lock = [] {
        auto* made = new std::mutex;
        RegisterForkSafeLock(kForkOrderRolloverCheck, *made);
        return made;
    }();
    return *lock;
}

}  // namespace krerrlog
