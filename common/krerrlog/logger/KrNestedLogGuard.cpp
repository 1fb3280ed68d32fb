// The per-thread record of the logger guards a thread reads under.
#include <krerrlog/logger/KrNestedLogGuard.h>

namespace krerrlog {

namespace {

// Constant-initialised and trivially destructible: no allocation, no
// registration at thread start or end. Each thread touches only its own.
struct HeldGuards {
    const void* guards[NestedReadRecord::kMaxHeldGuards];
    int depth;
};
thread_local HeldGuards t_held = {};

}  // namespace

bool NestedReadRecord::ThreadReadsUnder(const void* guard) noexcept
{
    const HeldGuards& held = t_held;
    for (int i = 0; i < held.depth; ++i)
        if (held.guards[i] == guard) return true;
    return false;
}

NestedReadRecord::Entry NestedReadRecord::Enter(const void* guard) noexcept
{
    HeldGuards& held = t_held;
    if (held.depth == kMaxHeldGuards) return Entry::Refused;
    bool nested = false;
    for (int i = 0; i < held.depth && !nested; ++i) nested = held.guards[i] == guard;
    held.guards[held.depth++] = guard;
    return nested ? Entry::Nested : Entry::Taken;
}

void NestedReadRecord::Leave() noexcept
{
    HeldGuards& held = t_held;
    if (held.depth > 0) --held.depth;
}

}  // namespace krerrlog
