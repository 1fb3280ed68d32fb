// The asymmetric barrier: a writer makes every other thread of the process
// pass a full memory barrier, so readers may publish with plain stores and no
// fence of their own. Both calls keep the caller's errno.
#pragma once

namespace krerrlog {

// Whether the barrier can be had here; registers the process for it once,
// before any reader relies on it.
bool ProcessBarrierAvailable();
// Returns after every running thread of the process passed a full barrier.
// Only when ProcessBarrierAvailable().
void IssueProcessBarrier();

}  // namespace krerrlog
