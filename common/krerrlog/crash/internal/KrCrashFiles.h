// The files a crashing thread writes: the crash stack listing and the
// in-memory trace dump, named like the dump files (KrInMemoryDump.h), opened
// and written with async-signal-safe calls only.
#pragma once

#include <cstddef>

namespace krerrlog {

// Readies what the names need later (the local time offsets). Not at a crash.
void PrepareCrashFiles();

// Opens (write-only, created, emptied, 0600) the crash file of the kind:
// kDumpCrashStack or kDumpAtCrash. Returns the descriptor or -1.
int OpenCrashFile(int kind);

// Builds the file name of the kind into out (NUL-terminated); false when it
// does not fit.
bool CrashFileName(int kind, char* out, size_t size);

// Writes all of the bytes (resuming interrupted writes); false on failure.
bool WriteCrashBytes(int fd, const char* data, size_t length);

// Writes the in-memory trace as a crash dump (kind 2) when the area exists.
void DumpInMemoryTraceAtCrash();

}  // namespace krerrlog
