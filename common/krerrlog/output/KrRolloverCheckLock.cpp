#include <krerrlog/output/KrRolloverCheckLock.h>

namespace krerrlog {

std::mutex& RolloverCheckLock()
{
    static std::mutex lock;
    return lock;
}

}  // namespace krerrlog
