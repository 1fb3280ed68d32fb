// Keeping a log file usable after faults: a line cut short by a full disk or a
// killed writer, and a file removed or moved away under the output.
#pragma once

#include <string>

namespace krerrlog {

// True when fd is a non-empty regular file whose last byte is not a newline
// and stays so: a line was cut short there (by a full disk, or a writer
// killed mid-write). Another process's line being appended can also show a
// moment without its end (the file grows a page at a time), so an end inside
// a line counts only when the file keeps it unchanged for a while (50 ms).
bool EndsInsideLine(int fd);

// Makes the file behind fd end at a line boundary again after a line was cut
// short: a regular file is cut back to just after its last newline (the line
// in flight is dropped whole); where that fails, or for other files, the
// fragment is ended with a newline. True when the file ends at a line boundary.
bool EndAtLineBoundary(int fd);

// False when fd is a regular file that the path no longer names: it was
// removed (no link left), or moved away, with another file or none at the path.
// Other kinds of file (terminals, pipes, devices) always count as in place.
bool IsStillAtPath(int fd, const char* path);

// True when path names a regular file itself (not a folder, nor a link).
bool IsRegularFileEntry(const std::string& path);

}  // namespace krerrlog
