// The pieces a crashing thread uses: bounded text, local time from prepared
// offsets, and file names that match the dump files' names.
#include "CrashTestSupport.h"

#include <krerrlog/crash/internal/KrCrashClock.h>
#include <krerrlog/crash/internal/KrCrashFiles.h>
#include <krerrlog/crash/internal/KrCrashText.h>
#include <krerrlog/crash/internal/KrStackWalker.h>
#include <krerrlog/output/CKrInMemoryOutput.h>
#include <krerrlog/output/internal/KrInMemoryDump.h>
#include <krerrlog/support/platform/KrPlatformClock.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <ucontext.h>

namespace krtest {
namespace {

using namespace krerrlog;

TEST(CrashTextTest, AppendsWholePiecesOrNothingAndNeverOverruns)
{
    char buffer[16 + 4];
    std::memset(buffer, '#', sizeof buffer);
    CrashText text(buffer, 16);  // 15 characters and the NUL
    EXPECT_TRUE(text.Append("frame()-[0x"));
    EXPECT_TRUE(text.AppendHex(0xABC));
    EXPECT_FALSE(text.Append("] "));   // 2 characters, room for 1: nothing added
    EXPECT_FALSE(text.AppendHex(0x10));
    EXPECT_FALSE(text.AppendDecimal(10));
    EXPECT_TRUE(text.Append("]"));
    EXPECT_FALSE(text.Append("x"));
    EXPECT_EQ(std::string(text.Data()), "frame()-[0xABC]");
    EXPECT_EQ(text.Length(), 15u);
    EXPECT_EQ(std::string(buffer + 16, 4), "####") << "nothing written past the buffer";
}

TEST(CrashTextTest, NumbersAsTheFileNamesAndListingsWriteThem)
{
    struct Row {
        long long value;
        int digits;
        const char* decimal;
    };
    for (const Row& row : {Row{0, 1, "0"}, Row{7, 2, "07"}, Row{2025, 4, "2025"}, Row{-42, 1, "-42"},
                           Row{LLONG_MIN, 1, "-9223372036854775808"}}) {
        SCOPED_TRACE(row.decimal);
        char buffer[64];
        CrashText text(buffer, sizeof buffer);
        ASSERT_TRUE(text.AppendDecimal(row.value, row.digits));
        EXPECT_EQ(std::string(text.Data()), row.decimal);
    }
    char buffer[64];
    CrashText text(buffer, sizeof buffer);
    text.AppendHex(0);
    text.Append(" ");
    text.AppendHex(0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(std::string(text.Data()), "0 FFFFFFFFFFFFFFFF");
}

// Restores the time zone of the process when a test is done with it.
class TimeZone {
public:
    explicit TimeZone(const char* zone)
    {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (old) m_old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone()
    {
        m_had ? setenv("TZ", m_old.c_str(), 1) : unsetenv("TZ");
        tzset();
        PrepareCrashClock(time(nullptr));
    }

private:
    bool m_had;
    std::string m_old;
};

TEST(CrashClockTest, LocalTimeFromPreparedOffsetsMatchesTheCLibraryAcrossChanges)
{
    // 2025-01-15 in zones with and without daylight saving time, east and west.
    const time_t from = 1736899200;
    for (const char* zone : {"UTC", "Europe/Berlin", "America/New_York", "Australia/Sydney", "Asia/Kolkata"}) {
        SCOPED_TRACE(zone);
        TimeZone set(zone);
        if (std::string(zone) == "Europe/Berlin") {
            const time_t july = from + 180 * 86400;
            std::tm winter{}, summer{};
            localtime_r(&from, &winter);
            localtime_r(&july, &summer);
            if (winter.tm_gmtoff == summer.tm_gmtoff) GTEST_SKIP() << "no time zone data on this machine";
        }
        PrepareCrashClock(from);
        // Every 7 hours and 13 minutes over 500 days crosses each change, and
        // the seconds just around the 2025 spring and autumn changes in Europe.
        std::vector<time_t> instants;
        for (time_t t = from; t < from + 500 * 86400; t += 7 * 3600 + 13 * 60) instants.push_back(t);
        for (time_t change : {time_t{1743296400}, time_t{1761440400}}) {
            for (time_t t = change - 2; t <= change + 2; ++t) instants.push_back(t);
        }
        for (time_t t : instants) {
            std::tm expected{};
            localtime_r(&t, &expected);
            const CalendarTime got = CrashLocalTime(t);
            ASSERT_EQ(got.year, expected.tm_year + 1900) << t;
            ASSERT_EQ(got.month, expected.tm_mon + 1) << t;
            ASSERT_EQ(got.day, expected.tm_mday) << t;
            ASSERT_EQ(got.dayOfWeek, expected.tm_wday) << t;
            ASSERT_EQ(got.hour, expected.tm_hour) << t;
            ASSERT_EQ(got.minute, expected.tm_min) << t;
            ASSERT_EQ(got.second, expected.tm_sec) << t;
        }
    }
}

// The crash files are named exactly as the dump routine names its files.
TEST(CrashFilesTest, NamesMatchTheDumpFilesNames)
{
    ScratchDir folder;
    PrepareCrashFiles();
    CKrInMemoryOutput output;
    output.SetInMemoryTraceFilePath((folder.Path() + "/").c_str());
    for (int attempt = 0; attempt < 3; ++attempt) {  // the two names may fall in different seconds
        char name[PATH_MAX];
        ASSERT_TRUE(CrashFileName(kDumpAtCrash, name, sizeof name));
        const int fd = OpenDumpFile(kDumpAtCrash);
        ASSERT_GE(fd, 0);
        close(fd);
        const std::vector<std::string> files = folder.List();
        ASSERT_EQ(files.size(), 1u);
        unlink(folder.File(files[0]).c_str());
        if (folder.File(files[0]) == name) return;
    }
    FAIL() << "the crash dump's name differs from the dump routine's";
}

TEST(CrashTextTest, UnpreparedWalkerListsNoValue)
{
    char buffer[64];
    CrashText text(buffer, sizeof buffer);
    ucontext_t context{};
    StackWalker().List(&context, text);
    EXPECT_EQ(std::string(text.Data()), "noValue");
}

TEST(CrashFilesTest, NameThatDoesNotFitIsRefused)
{
    char name[24];
    EXPECT_FALSE(CrashFileName(kDumpCrashStack, name, sizeof name));
}

}  // namespace
}  // namespace krtest
