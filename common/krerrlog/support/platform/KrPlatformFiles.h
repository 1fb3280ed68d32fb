// Files and descriptors of the platform: the calls underneath the library's
// file operations (KrFileOps.h), the log file checks, the line readers and the
// crash files. Failures return -1 (or false) with errno set; interrupted
// calls are resumed. Calls marked async-signal-safe may run in the crash handler.
#pragma once

#include <cstddef>

namespace krerrlog {

// The longest path the platform's calls take, with its NUL.
constexpr std::size_t kLongestPath = 4096;

// The process's standard output and error descriptors.
constexpr int kStandardOutput = 1;
constexpr int kStandardError = 2;

// What the crash path and the log file checks need to know about a file.
struct PlatformFileInfo {
    long long size;
    bool regular;
    bool folder;
    unsigned long links;  // 0: the file has no name any more
    unsigned long long device;
    unsigned long long inode;
};

// Opens with KrFileOps.h's KR_O_* flags and KR_S_* permission bits: close-on-
// exec, created owner-only, never blocking in the open itself (a FIFO without
// a reader fails with ENXIO); the descriptor then blocks on writes as usual.
int PlatformOpen(const char* path, int flags, int permission);
// Creates or empties path for writing, owner-only. Async-signal-safe.
int PlatformCreateForCrash(const char* path);
// A new read-only descriptor of the file fd names (fd may be write-only), or
// -1 when the platform cannot reopen it.
int PlatformReopenForReading(int fd);
// Closes fd. Async-signal-safe.
int PlatformClose(int fd);

// Writes all of count bytes unless an error stops it: the bytes written, or -1
// when an error came before any. Async-signal-safe.
long long PlatformWrite(int fd, const void* data, std::size_t count);
// One read of up to count bytes: the bytes read, 0 at the end, -1 on error.
long long PlatformRead(int fd, void* buffer, std::size_t count);
// One read at offset, not moving the descriptor's position.
long long PlatformReadAt(int fd, void* buffer, std::size_t count, long long offset);
// Cuts the file to length and moves the descriptor's position to the new end.
bool PlatformTruncate(int fd, long long length);

bool PlatformInfoOf(int fd, PlatformFileInfo& info);
// followLinks false: the link itself, not the file it names.
bool PlatformInfoOfPath(const char* path, PlatformFileInfo& info, bool followLinks);
bool PlatformPathIsFolder(const char* path);
// Mode 0: true when path names anything, else false with errno.
bool PlatformAccess(const char* path, int mode);
// Renames from to to, failing with EEXIST when to exists.
int PlatformRenameNoReplace(const char* from, const char* to);
int PlatformUnlink(const char* path);

// True when the process has a standard output to write to.
bool StandardOutputIsOpen();

}  // namespace krerrlog
