// Fuzzes safe_snprintf_impl: format, arguments and output size all come from
// the input. The output sits in a heap block of exactly `size` bytes followed
// by a guard region, and argv holds exactly argc entries, so any read past
// argc or write past size is caught.
#include <krerrlog/support/KrSafeFormat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kGuardBytes = 64;
constexpr unsigned char kGuard = 0xA5;

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t length)
{
    if (length < 2) return 0;
    const unsigned long size = data[0] % 48;
    const int argc = data[1] % 8;
    // The rest: format, then the arguments, separated by NUL bytes.
    std::vector<std::string> pieces(1);
    for (size_t i = 2; i < length; ++i) {
        if (data[i] == 0) {
            pieces.emplace_back();
        } else {
            pieces.back() += static_cast<char>(data[i]);
        }
    }
    const std::string& format = pieces[0];
    std::vector<std::string> texts(pieces.begin() + 1, pieces.end());
    texts.resize(static_cast<size_t>(argc));
    const char** argv = argc > 0 ? static_cast<const char**>(std::malloc(sizeof(char*) * argc)) : nullptr;
    for (int i = 0; i < argc; ++i) {
        // Every third argument is null, to exercise "(null)".
        argv[i] = (data[1] / 8 + i) % 3 == 2 ? nullptr : texts[static_cast<size_t>(i)].c_str();
    }

    errno = 0;
    unsigned char* block = static_cast<unsigned char*>(std::malloc(size + kGuardBytes));
    std::memset(block, kGuard, size + kGuardBytes);
    char* out = reinterpret_cast<char*>(block);
    const int result = safe_snprintf_impl(out, size, format.c_str(), argc, argv);
    for (size_t i = size; i < size + kGuardBytes; ++i) {
        if (block[i] != kGuard) Fail("wrote past the buffer");
    }
    if (result < 0) {
        // The one error these arguments allow: a text longer than an int can count.
        if (errno != EOVERFLOW) Fail("error without cause");
        if (size > 0 && !std::memchr(out, '\0', size)) Fail("not NUL-terminated after an overflow");
        std::free(block);
        std::free(argv);
        return 0;
    }
    if (size > 0) {
        const void* nul = std::memchr(out, '\0', size);
        if (!nul) Fail("not NUL-terminated");
        const size_t written = static_cast<size_t>(static_cast<const char*>(nul) - out);
        const size_t expected = static_cast<size_t>(result) < size - 1 ? static_cast<size_t>(result) : size - 1;
        // Arguments hold no NUL, so the text is exactly what fit.
        if (written != expected) Fail("text length differs from the result");
    }
    // Measuring alone gives the same length, and a buffer of that length plus
    // one holds the whole text, of which the small buffer is a prefix.
    if (safe_snprintf_impl(nullptr, 0, format.c_str(), argc, argv) != result) Fail("measure differs");
    if (result > (1 << 20)) {  // a huge width: checked above, too big to hold in full
        std::free(block);
        std::free(argv);
        return 0;
    }
    std::vector<char> full(static_cast<size_t>(result) + 1, 'x');
    if (safe_snprintf_impl(full.data(), full.size(), format.c_str(), argc, argv) != result) Fail("retry differs");
    if (std::strlen(full.data()) != static_cast<size_t>(result)) Fail("full text has the wrong length");
    if (size > 0 && std::strncmp(full.data(), out, size - 1) != 0) Fail("cut text is not a prefix");

    std::free(block);
    std::free(argv);
    return 0;
}
