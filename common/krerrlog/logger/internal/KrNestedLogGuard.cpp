// The per-thread record of the logger guards a thread reads under.
#include <krerrlog/logger/internal/KrNestedLogGuard.h>

namespace krerrlog {

namespace {
// Constant-initialised and trivially destructible: no allocation, no
// registration at thread start or end. Each thread touches only its own.
thread_local NestedReadRecord t_record;
}  // namespace

NestedReadRecord& NestedReadRecord::OfThisThread() noexcept { return t_record; }

}  // namespace krerrlog
