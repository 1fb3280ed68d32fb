// Fuzzes CKrFile::ReadLine: the input is written to a temporary file (one file
// per process, rewritten for every input) and read back with small and large
// capacities into heap buffers of exactly that size. Every line must match a
// straightforward split of the input, and the counts must add up to the file size.
#include <krerrlog/support/KrFile.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

// The temporary file, created once per process; memory-backed when possible,
// since it is rewritten for every input.
struct TempFile {
    std::string path;
    int fd = -1;
};

const TempFile& Temp()
{
    static const TempFile file = [] {
        const char* base = std::getenv("TMPDIR");
        std::string folder = base && *base ? base : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = folder + "/krerrlog-fuzz-lines-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        TempFile temp;
        temp.fd = mkstemp(name.data());
        if (temp.fd < 0) std::abort();
        temp.path = name.data();
        std::atexit([] { unlink(Temp().path.c_str()); });
        return temp;
    }();
    return file;
}

struct ExpectedLine {
    std::string text;  // as delivered: cut, without its line end
    int taken;
};

std::vector<ExpectedLine> Split(const uint8_t* data, size_t length, int capacity)
{
    std::vector<ExpectedLine> lines;
    size_t start = 0;
    while (start < length) {
        const uint8_t* newline = static_cast<const uint8_t*>(std::memchr(data + start, '\n', length - start));
        const size_t end = newline ? static_cast<size_t>(newline - data) : length;
        size_t textEnd = end;
        if (newline && end > start && data[end - 1] == '\r') --textEnd;
        std::string text(reinterpret_cast<const char*>(data + start), textEnd - start);
        if (text.size() > static_cast<size_t>(capacity - 1)) text.resize(static_cast<size_t>(capacity - 1));
        lines.push_back({text, static_cast<int>(end - start + (newline ? 1 : 0))});
        start = end + (newline ? 1 : 0);
    }
    return lines;
}

void ReadBack(const uint8_t* data, size_t length, int capacity)
{
    CKrFile file;
    if (!file.OpenFile(Temp().path.c_str(), 3)) Fail("cannot open");
    char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(capacity)));
    const std::vector<ExpectedLine> expected = Split(data, length, capacity);
    size_t index = 0;
    long long total = 0;
    for (;;) {
        const int taken = file.ReadLine(buffer, capacity);
        if (taken < 0) Fail("read error");
        if (taken == 0) break;
        if (!std::memchr(buffer, '\0', static_cast<size_t>(capacity))) Fail("not NUL-terminated within capacity");
        if (index >= expected.size()) Fail("more lines than the input holds");
        const ExpectedLine& line = expected[index++];
        if (taken != line.taken) Fail("wrong byte count");
        if (std::memcmp(buffer, line.text.data(), line.text.size()) != 0 || buffer[line.text.size()] != '\0') {
            Fail("wrong text");
        }
        total += taken;
    }
    if (index != expected.size() || total != static_cast<long long>(length)) Fail("lines lost");
    std::free(buffer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t length)
{
    if (length > 1 << 20) return 0;
    const TempFile& temp = Temp();
    if (ftruncate(temp.fd, 0) != 0) std::abort();
    if (length > 0 && pwrite(temp.fd, data, length, 0) != static_cast<ssize_t>(length)) std::abort();
    for (int capacity : {1, 2, 5, 64, 8092}) ReadBack(data, length, capacity);
    return 0;
}
