// How many trace kinds are available across all loggers (each logger's trace
// and in-memory trace count one each while available), so that a trace call
// in a process where no trace is on returns after one load.
#pragma once

#include <atomic>

namespace krerrlog {

// Raised before a logger's availability flag turns true and lowered after it
// turns false (CKrLogger::Publish*Availability, under that kind's writer
// side), so 0 means every flag is false. Relaxed: the count publishes
// nothing; a reader that sees it above 0 goes on to read the logger's own
// flag with acquire, and one that sees 0 answers as the flags would.
inline std::atomic<int> g_tracesAvailable{0};

inline bool AnyTraceAvailable() { return g_tracesAvailable.load(std::memory_order_relaxed) != 0; }

}  // namespace krerrlog
