#include <krerrlog/support/internal/KrSafeFormat.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Formats into a buffer of exactly `size` bytes that sits between guard bytes,
// and fails the test when anything outside it was touched.
struct Formatted {
    int result;
    std::string text;
};

constexpr char kGuard = '\x5a';
constexpr size_t kGuardBytes = 16;

Formatted Format(unsigned long size, const char* format, std::vector<const char*> args = {})
{
    std::vector<char> memory(size + 2 * kGuardBytes, kGuard);
    char* buffer = memory.data() + kGuardBytes;
    const int result = safe_snprintf_impl(buffer, size, format, static_cast<int>(args.size()), args.data());
    for (size_t i = 0; i < kGuardBytes; ++i) {
        EXPECT_EQ(memory[i], kGuard) << "written before the buffer at " << i;
        EXPECT_EQ(memory[kGuardBytes + size + i], kGuard) << "written past the buffer at " << i;
    }
    Formatted formatted{result, {}};
    if (size > 0) {
        const void* nul = std::memchr(buffer, '\0', size);
        EXPECT_NE(nul, nullptr) << "not NUL-terminated within " << size << " bytes";
        if (nul) formatted.text.assign(buffer);
    }
    return formatted;
}

Formatted Format(const char* format, std::vector<const char*> args) { return Format(256, format, std::move(args)); }

TEST(SafeFormat, ConversionsPercentSignsAndMissingArguments)
{
    const char bytes[3] = {'x', 'y', 'z'};  // not NUL-terminated: only three bytes may be read
    const struct {
        const char* format;
        std::vector<const char*> args;
        const char* expected;
    } cases[] = {
        {"user %s failed %d times at %p (%x, %5f)", {"alice", "3", "0xdead", "ff", "1.5"},
         "user alice failed 3 times at 0xdead (ff,   1.5)"},
        // Every letter and length modifier takes one argument, even the dangerous ones.
        {"%n|%lld|%hhu|%zu|%Lf|%c|%ls|%jd|%td|%qd", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"},
         "a|b|c|d|e|f|g|h|i|j"},
        // Plain %s width and precision: see AgreesWithSnprintfOnTextConversions.
        {"[%5.2d]", {"12345"}, "[   12]"}, {"[%-5.2d]", {"12345"}, "[12   ]"}, {"[%05s]", {"7"}, "[    7]"},
        {"[%.s]", {"gone"}, "[]"}, {"[%2s]", {"longer"}, "[longer]"}, {"%.3s!", {bytes}, "xyz!"},
        // Percent signs and broken conversions are text.
        {"100%%", {}, "100%"}, {"%%s", {"unused"}, "%s"}, {"end %", {}, "end %"}, {"end %-5", {}, "end %-5"},
        {"%y%s", {"a"}, "%ya"}, {"%*s|%s", {"a"}, "%*s|a"}, {"%5%d", {"x"}, "%5x"}, {"%lk", {"x"}, "%lk"},
        {"%5%", {}, "%5%"},
        // Missing arguments write nothing, null ones "(null)".
        {"a%sb%dc", {}, "abc"}, {"%s %s %s", {"one"}, "one  "}, {"<%s>", {nullptr}, "<(null)>"},
        {"<%8s>", {nullptr}, "<  (null)>"},
    };
    for (const auto& c : cases) {
        const Formatted f = Format(c.format, c.args);
        EXPECT_EQ(f.text, c.expected) << c.format;
        EXPECT_EQ(f.result, static_cast<int>(std::strlen(c.expected))) << c.format;
    }
    // argc 0: argv is never read.
    char out[16];
    EXPECT_EQ(safe_snprintf_impl(out, sizeof out, "[%s]", 0, nullptr), 2);
    EXPECT_STREQ(out, "[]");
}

TEST(SafeFormat, HugeWidthIsCountedNotWritten)
{
    const Formatted f = Format(16, "%100000000s|", {"x"});
    EXPECT_EQ(f.result, 100000001);
    EXPECT_EQ(f.text, std::string(15, ' '));
    // Beyond what an int can report: an error, but the buffer is still safe.
    const Formatted over = Format(16, "%3000000000s", {"x"});
    EXPECT_LT(over.result, 0);
    EXPECT_EQ(over.text.size(), 15u);
    EXPECT_LT(Format(16, "%99999999999999999999999999s", {"x"}).result, 0);
}

TEST(SafeFormat, RefusesBadCalls)
{
    char out[8] = "keep";
    const char* arg = "a";
    EXPECT_LT(safe_snprintf_impl(out, sizeof out, nullptr, 1, &arg), 0);
    EXPECT_LT(safe_snprintf_impl(out, sizeof out, "%s", -1, &arg), 0);
    EXPECT_LT(safe_snprintf_impl(out, sizeof out, "%s", 1, nullptr), 0);
    EXPECT_LT(safe_snprintf_impl(nullptr, 5, "%s", 1, &arg), 0);
    EXPECT_STREQ(out, "keep");
}

TEST(SafeFormat, AgreesWithSnprintfOnTextConversions)
{
    // Where the format is plain %s, the result must be what snprintf itself
    // gives, at every size: nothing, cut, exactly the length, and ample.
    const char* formats[] = {"%s", "[%-7s|%7s]", "%.2s%.0s%.9s", "a%%b%s%%", "%3.1s%-3.1s."};
    const char *a = "alpha", *b = "be", *c = "gamma-delta";
    for (const char* format : formats) {
        for (unsigned long size : {0UL, 1UL, 3UL, 5UL, 6UL, 64UL}) {
            SCOPED_TRACE(std::string(format) + " size " + std::to_string(size));
            char expected[64] = "";
            const int want = std::snprintf(expected, size, format, a, b, c);
            const Formatted got = Format(size, format, {a, b, c});
            EXPECT_EQ(got.result, want);
            EXPECT_EQ(got.text, std::string(expected));
        }
    }
    EXPECT_EQ(safe_snprintf_impl(nullptr, 0, "%s", 1, &a), 5) << "size 0 with a null buffer only measures";
}

}  // namespace
