// Fuzzes CKrFile::ReadLine: the input is written to a temporary file (one file
// per process, rewritten for every input) and read back with small and large
// capacities into heap buffers of exactly that size. Every line must match a
// straightforward split of the input, and the counts must add up to the file size.
#include <krerrlog/support/internal/KrFile.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

void Check(bool condition, const char* what)
{
    if (condition) return;
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

// The temporary file, created once per process; memory-backed when possible,
// since it is rewritten for every input.
struct TempFile {
    TempFile()
    {
        const char* base = std::getenv("TMPDIR");
        path = std::string(base && *base ? base : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
               "/krerrlog-fuzz-lines-XXXXXX";
        fd = mkstemp(path.data());
        Check(fd >= 0, "cannot create the temporary file");
    }
    ~TempFile() { unlink(path.c_str()); }
    std::string path;
    int fd;
};

void ReadBack(const char* path, const uint8_t* data, size_t length, int capacity)
{
    CKrFile file;
    Check(file.OpenFile(path, 3), "cannot open");
    std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(capacity)]);
    size_t start = 0;  // where the next expected line begins in the input
    for (int taken; (taken = file.ReadLine(buffer.get(), capacity)) != 0;) {
        Check(taken > 0, "read error");
        Check(std::memchr(buffer.get(), '\0', static_cast<size_t>(capacity)), "not NUL-terminated within capacity");
        Check(start < length, "more lines than the input holds");
        const void* newline = std::memchr(data + start, '\n', length - start);
        const size_t end = newline ? static_cast<size_t>(static_cast<const uint8_t*>(newline) - data) : length;
        const size_t next = newline ? end + 1 : length;
        Check(static_cast<size_t>(taken) == next - start, "wrong byte count");
        // The text as delivered: without its line end (LF or CRLF), cut to the capacity.
        size_t textLength = end - start - (newline && end > start && data[end - 1] == '\r' ? 1 : 0);
        if (textLength > static_cast<size_t>(capacity - 1)) textLength = static_cast<size_t>(capacity - 1);
        Check(std::memcmp(buffer.get(), data + start, textLength) == 0 && buffer[textLength] == '\0', "wrong text");
        start = next;
    }
    Check(start == length, "lines lost");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t length)
{
    if (length > 1 << 20) return 0;
    static TempFile temp;
    Check(ftruncate(temp.fd, 0) == 0, "cannot truncate");
    Check(length == 0 || pwrite(temp.fd, data, length, 0) == static_cast<ssize_t>(length), "cannot write");
    for (int capacity : {1, 2, 5, 64, 8092}) ReadBack(temp.path.c_str(), data, length, capacity);
    return 0;
}
