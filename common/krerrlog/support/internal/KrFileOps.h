// File operations with the C runtime's conventions: numeric open flags of that
// runtime, -1 and errno on failure. Renaming never replaces an existing file.
#pragma once

#include <cstddef>

// Open flags as callers pass them (the C runtime's values).
constexpr int KR_O_WRONLY = 0x0001;
constexpr int KR_O_RDWR = 0x0002;
constexpr int KR_O_APPEND = 0x0008;
constexpr int KR_O_CREAT = 0x0100;
constexpr int KR_O_TRUNC = 0x0200;
constexpr int KR_O_EXCL = 0x0400;
// Permission bits: owner read, owner write.
constexpr int KR_S_IREAD = 0x0100;
constexpr int KR_S_IWRITE = 0x0080;

// Opens path and returns a descriptor (close-on-exec), or -1 with errno set.
// Files are created owner-only whatever else the permission asks for. Opening
// never blocks: a FIFO without a reader fails with ENXIO (as a socket does);
// the descriptor returned blocks on writes as usual.
int KrOpen(const char* path, int flags, int permission);
// Mode 0 only: 0 when path exists, else -1 with errno (ENOENT when missing).
int KrAccess(const char* path, int mode);
// Renames from to to; fails with EEXIST when to exists (never replaces it).
int KrRename(const char* from, const char* to);
int KrUnlink(const char* path);

namespace krerrlog {

// Writes all of count bytes unless an error stops it; returns the bytes written
// or -1 with errno set. Interrupted writes are resumed.
std::ptrdiff_t FileWrite(int fd, const void* data, size_t count);
int FileClose(int fd);
// The size of an open file, or -1.
long long FileSize(int fd);

// Failure injection for tests: the named operation fails with the given errno
// for its next `times` calls whose path contains `pathPart` (any path when
// null or empty). Writes and closes match every descriptor. A ShortWrite
// stores the first half of its bytes, then fails with the error, as a write
// does when the disk fills up in the middle of it.
enum class FileOp { Open, Access, Rename, Unlink, Write, Close, ShortWrite };
void InjectFileFault(FileOp op, int error, int times = 1, const char* pathPart = nullptr);
void ClearFileFaults();

}  // namespace krerrlog
