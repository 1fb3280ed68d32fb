#include <krerrlog/output/KrRolloverCheckLock.h>

namespace krerrlog {

std::mutex& RolloverCheckLock()
{
    // Never destroyed: threads may still log while static objects are torn down.
    static std::mutex* lock = new std::mutex;
    return *lock;
}

}  // namespace krerrlog
