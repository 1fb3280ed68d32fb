// Advisory whole-file locks that other processes contend for (the roll-over
// lock of a log file shared between processes, KrCrossProcessRollover.h).
#pragma once

namespace krerrlog {

enum class FileLockTry { Locked, Busy, Unsupported };

// A descriptor of its own for the file that fd names, to lock through: opened
// anew where the platform can, so that a process forked from this one, which
// shares fd, still contends for the lock. -1 when none can be had.
int OpenFileLockHandle(int fd);
// Tries once for the exclusive lock; Unsupported when the file system keeps no locks.
FileLockTry TryLockFileExclusive(int handle);
void UnlockFile(int handle);
// Closes the handle (which also gives back a lock still held).
void CloseFileLockHandle(int handle);

}  // namespace krerrlog
