#include <krerrlog/output/KrRolloverCheckLock.h>

#include <krerrlog/support/KrNeverDestroyed.h>

namespace krerrlog {

std::mutex& RolloverCheckLock()
{
    // Never destroyed: threads may still log while static objects are torn down.
    static NeverDestroyed<std::mutex> lock;
    return lock.Get();
}

}  // namespace krerrlog
