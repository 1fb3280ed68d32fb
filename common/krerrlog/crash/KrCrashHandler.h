// The process fault handler: setupSEGVHandler installs it for SIGSEGV, SIGBUS,
// SIGFPE, SIGILL and SIGTRAP (the faults it writes a stack listing for) and for
// SIGABRT (abort() and an uncaught exception through std::terminate: the
// unrecognised path, which saves the traces but writes no listing).
//
// At a fault, on the faulting thread and on an alternate signal stack:
//   1. "handling crash ...\n" on standard output;
//   2. the buffered trace flushed into its file;
//   3. the in-memory trace dumped ("crash.inmem_trace");
//   4. SIGABRT: "Error: Unrecognized Exception\n" on standard error, go to 6;
//   5. the stack listing of the faulting thread written to "crash.pstack"
//      next to the error log (KrStackWalker.h);
//   6. the handlers installed before this one are put back and the signal
//      handed on, so the process ends with it (or the host's handler runs).
// Everything on this path is async-signal-safe: buffers were allocated by
// setupSEGVHandler, files are written with write(). A fault inside the
// handler ends the process with abort() (a fault while reading the stack only
// cuts the listing short). A second thread that faults meanwhile waits for
// the first to end the process.
#pragma once

#include <krerrlog/KrExport.h>

// Installs the handler (again: keeps the handlers saved the first time) and
// gives the calling thread an alternate signal stack, so that a stack
// overflow on it is handled too. The library never calls it itself.
KRERRLOG_API void setupSEGVHandler();
