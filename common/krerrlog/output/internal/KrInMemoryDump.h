// Dump files: the in-memory trace written out on request or at a crash, and
// the name of the crash stack listing. Safe to call from a crashing thread:
// names are built in fixed buffers, and locks are waited for only briefly.
#pragma once

namespace krerrlog {

// Kinds of dump file.
constexpr int kDumpCrashStack = 0;   // "crash.pstack", named after the error log
constexpr int kDumpOnRequest = 1;    // "dump.inmem_trace"
constexpr int kDumpAtCrash = 2;      // "crash.inmem_trace"

// Opens (write-only, created, emptied, owner-only) the dump file of the kind:
// <prefix><name part>_<pid>__<yyyymmdd>_<hhmmss>.txt in local time. The prefix
// of kind 0 is the error log's file name up to and including the dot of its
// extension (all of it without one; empty without a file error log); of the
// other kinds the dump prefix. Any other kind is named "unknown". Returns the
// descriptor, or -1 (also when the name does not fit a path).
int OpenDumpFile(int kind);

// Writes the in-memory trace to a new dump file of kind 1 or 2. True when it
// was written or there is no trace area; false when the file cannot be opened
// or written, or for another kind.
bool WriteInMemoryTrace(int kind);

}  // namespace krerrlog
