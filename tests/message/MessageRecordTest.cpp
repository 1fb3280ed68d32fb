// The message record: buffer growth, the prolog text, and the static
// date, time and identity operations.
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/message/internal/KrMessageBuffer.h>
#include <krerrlog/support/platform/KrPlatformClock.h>

#include "testsupport/AllocationCounter.h"
#include "testsupport/ChildProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

long long g_now = 0;
long long FixedClock() { return g_now; }

// 2024-03-05 13:45:12.345 UTC, a Tuesday.
constexpr long long kTuesday = 1709646312345LL;

std::string PidTid() { return "[" + std::to_string(getpid()) + "/" + std::to_string(syscall(SYS_gettid)) + "]"; }

std::string PrologOf(CKrErrLogMessage& message, const char* file, int line)
{
    message.FormatLogProlog(file, line, 0);
    return message.GetBuffer();
}

void SetZone(const char* zone)
{
    zone ? setenv("TZ", zone, 1) : unsetenv("TZ");
    tzset();
}

// A fixed clock at kTuesday; the zone and the tag switches are put back.
class Prolog : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_now = kTuesday;
        krerrlog::SetClockSource(&FixedClock);
        if (const char* tz = std::getenv("TZ")) m_tz = tz;
        unsetenv("EnableTag");
    }
    void TearDown() override
    {
        krerrlog::SetClockSource(nullptr);
        SetZone(m_tz ? m_tz->c_str() : nullptr);
        unsetenv("EnableTag");
        theLogger()->EnableTag(false);
        theLogger()->UseLocalTime(false);
    }
    std::optional<std::string> m_tz;
};

}  // namespace

TEST_F(Prolog, UtcTextIsExact)
{
    CKrErrLogMessage message(false);
    EXPECT_TRUE(message.FormatLogProlog("src/server/main.cpp", 120, 7));
    EXPECT_EQ(std::string(message.GetBuffer()), PidTid() + "[Tue Mar 05 2024 13:45:12.345][main.cpp:120]");
    EXPECT_EQ(message.GetBufferLen(), static_cast<int>(std::strlen(message.GetBuffer())));
}

TEST_F(Prolog, LocalTimeFollowsTheZoneAndLineZeroDropsTheNumber)
{
    SetZone("UTC+05");  // five hours west of UTC
    theLogger()->UseLocalTime(true);
    CKrErrLogMessage byLogger;  // takes the process logger's choice when made
    theLogger()->UseLocalTime(false);
    CKrErrLogMessage local(true), utc;
    EXPECT_EQ(PrologOf(local, "main.cpp", 0), PidTid() + "[Tue Mar 05 2024 08:45:12.345][main.cpp]");
    EXPECT_EQ(PrologOf(local, "C:\\src\\a.cpp", -3), PidTid() + "[Tue Mar 05 2024 08:45:12.345][a.cpp]");
    EXPECT_EQ(PrologOf(byLogger, "a.cpp", 1), PidTid() + "[Tue Mar 05 2024 08:45:12.345][a.cpp:1]");
    EXPECT_EQ(PrologOf(utc, "a.cpp", 1), PidTid() + "[Tue Mar 05 2024 13:45:12.345][a.cpp:1]");
}

TEST_F(Prolog, MillisecondsAndSecondBoundaries)
{
    CKrErrLogMessage message(false);
    const std::pair<long long, const char*> cases[] = {
        {kTuesday - 345 + 7, "[Tue Mar 05 2024 13:45:12.007]"},     // the same second
        {kTuesday - 345 + 1000, "[Tue Mar 05 2024 13:45:13.000]"},  // the next one, after the cached one
        {1735689599999LL, "[Tue Dec 31 2024 23:59:59.999]"},
        {1735689600000LL, "[Wed Jan 01 2025 00:00:00.000]"},
    };
    for (const auto& [now, stamp] : cases) {
        g_now = now;
        EXPECT_NE(PrologOf(message, "f.cpp", 1).find(stamp), std::string::npos) << stamp;
    }
}

TEST_F(Prolog, TagsFollowTheProcessLoggerAndTheEnvironment)
{
    CKrErrLogMessage message(false);
    const std::string base = PidTid() + "[Tue Mar 05 2024 13:45:12.345][x.cpp:1]";
    auto prolog = [&](const char* logName) {
        logName ? message.FormatLogProlog("x.cpp", 1, 0, logName) : message.FormatLogProlog("x.cpp", 1, 0);
        return std::string(message.GetBuffer());
    };
    theLogger()->EnableTag(true);
    EXPECT_EQ(base + "[KRPSLOG]", prolog(nullptr));
    setenv("EnableTag", "true", 1);
    EXPECT_EQ(base + "[KRPSLOG][AGENTLOG]", prolog("AgentLogger"));
    EXPECT_EQ(base + "[KRPSLOG][ZDLSERVICELOG]", prolog("ZDLLogger"));
    EXPECT_EQ(base + "[KRPSLOG]", prolog(""));

    theLogger()->EnableTag(false);
    for (const char* value : {"TRUE", "true ", "1", "", static_cast<const char*>(nullptr)}) {
        value ? setenv("EnableTag", value, 1) : unsetenv("EnableTag");
        EXPECT_EQ(base, prolog("AgentLogger")) << "EnableTag=\"" << (value ? value : "(unset)") << "\"";
    }
}

TEST(MessageBuffer, GrowsOnlyPastItsCapacityShrinksOnResetNeverOverruns)
{
    krerrlog::MessageBuffer buffer;
    EXPECT_STREQ(buffer.Terminated(), "");
    const std::string text(4095, 'a');
    buffer.AppendString(text.c_str());
    EXPECT_EQ(buffer.Capacity(), 4096);
    EXPECT_FALSE(buffer.Grown());
    buffer.AppendChar('b');  // 4095 + 1 >= 4096
    EXPECT_EQ(buffer.Capacity(), 5121);
    EXPECT_TRUE(buffer.Grown());
    EXPECT_EQ(std::string(buffer.Terminated()), text + "b");

    buffer.Reset();
    EXPECT_EQ(buffer.Capacity(), 4096);
    EXPECT_FALSE(buffer.Grown());
    EXPECT_EQ(buffer.Length(), 0);

    // A long string grows by its own length plus 1024.
    const std::string big(10000, 'z');
    buffer.AppendBytes("12", 2);
    buffer.AppendString(big.c_str());
    EXPECT_EQ(buffer.Capacity(), 4096 + 1024 + 10000);
    EXPECT_EQ(buffer.LastAppendLength(), 10000);
    buffer.AppendFill('-', 3);
    EXPECT_EQ(std::string(buffer.Terminated()), "12" + big + "---");

    // Fills and byte runs follow the same rule.
    krerrlog::MessageBuffer exact;
    exact.AppendFill('x', 4094);
    exact.AppendBytes("y", 1);  // 4094 + 1 < 4096: still fits with its NUL
    EXPECT_EQ(exact.Capacity(), 4096);
    exact.AppendFill('z', 1);  // 4095 + 1 >= 4096
    EXPECT_EQ(exact.Capacity(), 4096 + 1024 + 1);
    EXPECT_EQ(std::strlen(exact.Terminated()), 4096u);

    // A length the 32-bit count cannot hold is refused by the growth rule; the
    // buffer keeps what it had and stays terminated.
    krerrlog::MessageBuffer huge;
    huge.AppendBytes("ab", 2);
    huge.AppendFill('x', 2147483000);
    EXPECT_LE(huge.Length(), huge.Capacity() - 1);
    EXPECT_EQ(std::string(huge.Terminated()).substr(0, 2), "ab");
}

// Without memory the text ends where it stopped fitting: a later piece that
// finds memory again is not appended after a hole. Reset starts afresh.
TEST(MessageBuffer, TextCutByMissingMemoryStaysCutUntilReset)
{
    std::optional<krerrlog::MessageBuffer> buffer;
    {
        krtest::FailingAllocations none(1, true);
        buffer.emplace();  // no block
        buffer->AppendChar('a');
        EXPECT_STREQ(buffer->Terminated(), "");
    }
    buffer->AppendBytes("bc", 2);  // memory is back, but the line lost its 'a'
    EXPECT_STREQ(buffer->Terminated(), "");
    buffer->Reset();
    buffer->AppendBytes("de", 2);
    EXPECT_STREQ(buffer->Terminated(), "de");
    EXPECT_EQ(buffer->Capacity(), 4096);

    const std::string full(4090, 'f');
    buffer->AppendString(full.c_str());
    {
        krtest::FailingAllocations none(1, true);
        buffer->AppendString("0123456789");  // grows: refused, cut at the block's end
    }
    buffer->AppendChar('\n');
    EXPECT_EQ(std::string(buffer->Terminated()), "de" + full + "012");
}

TEST(MessageRecord, NewAndCleanedMessagesAreEmpty)
{
    CKrErrLogMessage message(false);
    EXPECT_EQ(message.GetBufferLen(), 0);
    EXPECT_STREQ(message.GetBuffer(), "");
    EXPECT_STREQ(message.GetMsgSeverity(), "UNKNOWN");
    message.FormatLogProlog(std::string(6000, 'p').c_str(), 1, 3);
    EXPECT_GT(message.GetBufferLen(), 6000);
    EXPECT_TRUE(message.CleanUpMessage());
    EXPECT_EQ(message.GetBufferLen(), 0);
    EXPECT_STREQ(message.ReleaseBuffer(), "");
    EXPECT_EQ(message.GetStringLen(), 0);
}

TEST(MessageRecord, FilePartOfPaths)
{
    const std::pair<const char*, const char*> cases[] = {
        {"a\\b/c.cpp", "c.cpp"}, {"a/b\\c.cpp", "b\\c.cpp"}, {"a\\b\\c.cpp", "c.cpp"}, {"plain.cpp", "plain.cpp"},
        {"dir/", ""},
    };
    for (const auto& [path, file] : cases) EXPECT_STREQ(CKrErrLogMessage::PathnameFindFilePart(path), file) << path;
    const char* path = "x/y.cpp";
    EXPECT_EQ(CKrErrLogMessage::PathnameFindFilePart(path), path + 2);  // a pointer into the path
}

TEST_F(Prolog, TimeFormsAndTheirMinimumSizes)
{
    // Destinations shorter than a form needs are refused, never overrun.
    const struct {
        int form;
        int size;
        const char* text;  // null: refused
    } cases[] = {
        {0, 25, "03/05/2024"}, {0, 24, nullptr}, {1, 25, "13:45:12"}, {2, 25, "13:45:12.345"},
        {3, 29, "Tue Mar 05 2024 13:45:12.345"}, {9, 28, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.form);
        char out[64];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(c.text != nullptr, CKrErrLogMessage::GetTime(c.form, out, false, c.size));
        if (c.text) {
            EXPECT_STREQ(c.text, out);
        }
        EXPECT_EQ('#', out[c.size]);
    }
    char out[64];
    EXPECT_FALSE(CKrErrLogMessage::GetTime(0, nullptr, false, 64));

    tm when{};  // Tuesday 2024-03-05 13:45:12
    when.tm_year = 124, when.tm_mon = 2, when.tm_mday = 5, when.tm_wday = 2;
    when.tm_hour = 13, when.tm_min = 45, when.tm_sec = 12;
    EXPECT_TRUE(CKrErrLogMessage::GetDateTime(&when, out, 25));
    EXPECT_STREQ(out, "Tue Mar 05 2024 13:45:12");
    EXPECT_FALSE(CKrErrLogMessage::GetDateTime(&when, out, 24));
    EXPECT_FALSE(CKrErrLogMessage::GetDateTime(nullptr, out, 25));
}

TEST(MessageRecord, ProcessAndThreadIds)
{
    char out[32];
    EXPECT_FALSE(CKrErrLogMessage::GetPid(out, 9));
    EXPECT_FALSE(CKrErrLogMessage::GetPid(nullptr, 32));
    ASSERT_TRUE(CKrErrLogMessage::GetPid(out, 10));
    EXPECT_EQ(std::string(out), std::to_string(getpid()));

    EXPECT_FALSE(CKrErrLogMessage::GetTid(out, 14));
    ASSERT_TRUE(CKrErrLogMessage::GetTid(out, 15));
    EXPECT_EQ(std::string(out), std::to_string(syscall(SYS_gettid)));

    std::string other;  // every thread reports its own id
    std::thread([&] {
        char text[32];
        CKrErrLogMessage::GetTid(text, sizeof text);
        other = text;
        EXPECT_EQ(other, std::to_string(syscall(SYS_gettid)));
    }).join();
    EXPECT_NE(other, std::string(out));
}

TEST_F(Prolog, ForkedChildWritesItsOwnIds)
{
    CKrErrLogMessage message(false);
    message.FormatLogProlog("a.cpp", 1, 0);  // the parent's ids are cached now
    EXPECT_EQ(krtest::RunInChild([] {
                  CKrErrLogMessage inChild(false);
                  return PrologOf(inChild, "a.cpp", 1).rfind(PidTid() + "[", 0) == 0 ? 0 : 1;
              }),
              0)
        << "the child wrote its parent's process or thread id";
}
