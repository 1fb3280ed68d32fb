// Fuzzes safe_snprintf_impl: format, arguments and output size all come from
// the input. The output is a heap block of exactly `size` bytes followed by a
// guard region, and argv holds exactly argc entries, so any read past argc or
// write past size is caught.
#include <krerrlog/support/internal/KrSafeFormat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr size_t kGuardBytes = 64;
constexpr unsigned char kGuard = 0xA5;

void Check(bool condition, const char* what)
{
    if (condition) return;
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t length)
{
    if (length < 2) return 0;
    const unsigned long size = data[0] % 48;
    const size_t argc = data[1] % 8;
    // The rest: format, then the arguments, separated by NUL bytes.
    std::vector<std::string> pieces(1);
    for (size_t i = 2; i < length; ++i) {
        if (data[i] == 0) {
            pieces.emplace_back();
        } else {
            pieces.back() += static_cast<char>(data[i]);
        }
    }
    pieces.resize(argc + 1);
    const char* format = pieces[0].c_str();
    std::unique_ptr<const char*[]> argv(argc > 0 ? new const char*[argc] : nullptr);
    for (size_t i = 0; i < argc; ++i) {
        // Every third argument is null, to exercise "(null)".
        argv[i] = (data[1] / 8 + i) % 3 == 2 ? nullptr : pieces[i + 1].c_str();
    }
    const int count = static_cast<int>(argc);

    errno = 0;
    std::unique_ptr<unsigned char[]> block(new unsigned char[size + kGuardBytes]);
    std::memset(block.get(), kGuard, size + kGuardBytes);
    char* out = reinterpret_cast<char*>(block.get());
    const int result = safe_snprintf_impl(out, size, format, count, argv.get());
    for (size_t i = size; i < size + kGuardBytes; ++i) Check(block[i] == kGuard, "wrote past the buffer");
    Check(size == 0 || std::memchr(out, '\0', size), "not NUL-terminated");
    // The one error these arguments allow: a text longer than an int can count.
    if (result < 0) {
        Check(errno == EOVERFLOW, "error without cause");
        return 0;
    }
    // Arguments hold no NUL, so the text is exactly what fit.
    if (size > 0) Check(std::strlen(out) == std::min<size_t>(static_cast<size_t>(result), size - 1), "wrong length");
    // Measuring alone gives the same length, and a buffer of that length plus
    // one holds the whole text, of which the small buffer is a prefix.
    Check(safe_snprintf_impl(nullptr, 0, format, count, argv.get()) == result, "measure differs");
    if (result > (1 << 20)) return 0;  // a huge width: too big to hold in full
    std::vector<char> full(static_cast<size_t>(result) + 1, 'x');
    Check(safe_snprintf_impl(full.data(), full.size(), format, count, argv.get()) == result, "retry differs");
    Check(std::strlen(full.data()) == static_cast<size_t>(result), "full text has the wrong length");
    Check(size == 0 || std::strncmp(full.data(), out, size - 1) == 0, "cut text is not a prefix");
    return 0;
}
