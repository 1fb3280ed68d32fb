// Guarded reads for a crashing thread. Some data read at a crash may already
// be damaged (the stack being walked, the error log's name while another
// thread replaces the output). A fault inside a guarded section returns to its
// start and the section counts as failed; any other fault inside the crash
// handler ends the process with abort().
#pragma once

#include <csetjmp>

namespace krerrlog {

// Set up by the section; the crash handler jumps to it on a nested fault.
sigjmp_buf& CrashGuardJump();
void BeginCrashGuard();
void EndCrashGuard();
// True on the thread inside a guarded section (read by the crash handler).
bool InCrashGuard();

// Runs body; false when a fault cut it short. Only the crashing thread runs
// guarded sections, one at a time.
template <typename Body>
bool RunGuarded(Body&& body)
{
    if (sigsetjmp(CrashGuardJump(), 1) != 0) {
        EndCrashGuard();
        return false;
    }
    BeginCrashGuard();
    body();
    EndCrashGuard();
    return true;
}

}  // namespace krerrlog
