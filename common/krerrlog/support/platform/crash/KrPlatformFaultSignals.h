// The fault signals behind the crash handler (KrCrashHandler.cpp): installing
// the handler for them on an alternate stack, giving them back, and the
// process's end after a handled fault. Everything but InstallFaultHandlers is
// async-signal-safe.
#pragma once

namespace krerrlog {

// info and ucontext are the platform's description of the fault and the
// interrupted thread's context, passed on unread.
using FaultHandler = void (*)(int signal, const void* info, const void* ucontext);

// Installs handler for the faults that get a stack listing and for abort, on an
// alternate stack of the calling thread, kept for the life of the process. A
// fault inside the handler enters it again rather than waiting blocked. The
// dispositions found the first time are the ones given back by
// RestorePreviousFaultHandlers; installing again keeps them.
void InstallFaultHandlers(FaultHandler handler);
void RestorePreviousFaultHandlers();

// True for abort, the one handled signal that gets no stack listing.
bool IsAbortSignal(int signal);

// After the previous handlers are back: a fault of the hardware happens again
// when the faulting instruction runs again on return, now into the old
// disposition, with the original context (and core dump). A signal that was
// sent, abort and a breakpoint (which does not repeat) are raised anew.
void HandOnFault(int signal, const void* info);

// Ends the process with abort, whatever handler abort has.
[[noreturn]] void AbortProcess();

// The kernel's id of the calling thread, without the per-thread cache.
long CrashingThreadId();

}  // namespace krerrlog
