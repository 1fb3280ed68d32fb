// Fuzzes the bundle text path: a .properties text is parsed, and each value is
// filled by CKrXlate::FormatMessageA with the keys as arguments into a small
// buffer followed by a guard region. Parsed keys and values are always valid
// UTF-8 (escapes are converted, other files taken as ISO-8859-1), and so is a
// filled text cut to fit.
#include <krerrlog/support/internal/KrPropertiesFile.h>
#include <krerrlog/support/KrXlate.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

// Strict UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
bool IsValidUtf8(std::string_view text)
{
    static const unsigned long kLowest[] = {0, 0x80, 0x800, 0x10000};
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        // Bytes that follow; 4 for a byte no character starts with.
        const size_t more = c < 0x80 ? 0 : c < 0xC2 ? 4 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : c < 0xF5 ? 3 : 4;
        if (more > 3 || text.size() - i <= more) return false;
        unsigned long codePoint = c & (0x7F >> more);
        for (size_t k = 1; k <= more; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        if (codePoint < kLowest[more] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        i += more + 1;
    }
    return true;
}

constexpr size_t kGuardBytes = 64;
constexpr char kGuard = '\x5a';

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t length)
{
    if (length < 1) return 0;
    const unsigned long outSize = data[0] % 40;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), length - 1);
    const krerrlog::PropertyList entries = krerrlog::ParseProperties(text);

    std::vector<const char*> args;
    for (const auto& entry : entries) {
        if (!IsValidUtf8(entry.first) || !IsValidUtf8(entry.second)) Fail("parsed text is not UTF-8");
        if (args.size() < 12) args.push_back(entry.first.c_str());
    }
    char* block = static_cast<char*>(std::malloc(outSize + kGuardBytes));
    for (const auto& entry : entries) {
        std::memset(block, kGuard, outSize + kGuardBytes);
        CKrXlate::FormatMessageA(block, outSize, entry.second.c_str(), args.size(), args.data());
        for (size_t i = outSize; i < outSize + kGuardBytes; ++i) {
            if (block[i] != kGuard) Fail("wrote past the buffer");
        }
        if (outSize == 0) continue;
        const void* nul = std::memchr(block, '\0', outSize);
        if (!nul) Fail("not NUL-terminated");
        // Values may hold a NUL (from \u0000): only the text before it is whole.
        const std::string_view filled(block, static_cast<size_t>(static_cast<const char*>(nul) - block));
        if (std::strlen(entry.second.c_str()) == entry.second.size() && !IsValidUtf8(filled)) {
            Fail("filled text cut inside a character");
        }
    }
    std::free(block);
    return 0;
}
