// The process-wide critical section under which one thread at a time decides
// whether a file output is due to roll over and performs the roll-over. It is
// taken before the roll-over lock, never after it.
#pragma once

#include <mutex>

namespace krerrlog {

std::mutex& RolloverCheckLock();

}  // namespace krerrlog
