// The trace record: values, the clock, line assembly, clean-up and the refresh.
#include "TraceDataTestPeer.h"
#include "testsupport/AllocationCounter.h"

#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/support/KrEnvironment.h>
#include <krerrlog/support/platform/KrPlatformClock.h>
#include <krerrlog/support/platform/KrPlatformThread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <string>

using namespace krtest;
using Peer = CKrTraceDataTestPeer;

namespace {

// 2024-03-05 13:45:12.345 UTC.
constexpr long long kTuesdayAfternoon = 1709646312345LL;
std::atomic<long long> g_now{kTuesdayAfternoon};
long long FixedClock() { return g_now.load(); }

class FixedClockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_now = kTuesdayAfternoon;
        krerrlog::SetClockSource(&FixedClock);
    }
    void TearDown() override { krerrlog::SetClockSource(nullptr); }
};

int Type(CKrTraceData& record, unsigned id) { return Peer::Field(record, id)->valueType; }
std::string Blanks(int n) { return std::string(static_cast<size_t>(n), ' '); }
bool AllValuesUnset(CKrTraceData& record)
{
    for (unsigned id = 0; id < KR_KNOWN_DATA_FIELD_COUNT; ++id)
        if (Peer::Field(record, id)->value) return false;
    return true;
}

}  // namespace

TEST(TraceRecord, IntegerValuesAndTheirTypes)
{
    CKrTraceData record;
    // The wide forms keep the low thirty-two bits.
    const struct {
        void (*set)(CKrTraceData&);
        const char* text;
        int type;
    } cases[] = {
        {[](CKrTraceData& r) { r.SetFieldValue(kUser, -42, false); }, "-42", KR_VALUE_INT},
        {[](CKrTraceData& r) { r.SetFieldValue(kUser, INT_MIN, false); }, "-2147483648", KR_VALUE_INT},
        {[](CKrTraceData& r) { r.SetFieldValue(kUser, INT_MAX, false); }, "2147483647", KR_VALUE_INT},
        {[](CKrTraceData& r) { r.SetFieldValue(kUser, 0, false); }, "0", KR_VALUE_INT},
        {[](CKrTraceData& r) { r.SetFieldValue(kUser, 4294967296LL, false); }, "0", KR_VALUE_INT},
        {[](CKrTraceData& r) { r.SetFieldValue(kUser, 4294967295LL, false); }, "-1", KR_VALUE_INT},
        {[](CKrTraceData& r) { r.SetFieldValue(kUser, -1LL, false); }, "-1", KR_VALUE_INT},
        {[](CKrTraceData& r) { r.SetFieldValue(kUser, 6442450943L, false); }, "2147483647", KR_VALUE_INT},
        {[](CKrTraceData& r) { r.SetFieldValue(kUser, 4294967297ULL, false); }, "1", KR_VALUE_UINT},
        {[](CKrTraceData& r) { r.SetFieldValue(kUser, ~0ULL, false); }, "4294967295", KR_VALUE_UINT},
        {[](CKrTraceData& r) { r.SetFieldValue(kUser, 4294967296UL + 5UL, false); }, "5", KR_VALUE_UINT},
        {[](CKrTraceData& r) { r.SetFieldValue(kUser, 4000000000u, false); }, "4000000000", KR_VALUE_UINT},
    };
    for (const auto& c : cases) {
        c.set(record);
        EXPECT_EQ(c.text, Value(record, kUser));
        EXPECT_EQ(c.type, Type(record, kUser)) << c.text;
    }
    // The value points at the field's own text.
    EXPECT_EQ(Peer::Field(record, kUser)->text, Peer::Field(record, kUser)->value);
}

TEST(TraceRecord, PidAndTidAreSubstituted)
{
    CKrTraceData record;
    EXPECT_TRUE(record.SetFieldValue(kPid, 12345, true));
    EXPECT_EQ(std::to_string(krerrlog::CurrentProcessId()), Value(record, kPid));
    EXPECT_EQ(KR_VALUE_INT, Type(record, kPid));
    EXPECT_TRUE(record.SetFieldValue(kTid, 7L, true));
    EXPECT_EQ(std::to_string(krerrlog::CurrentThreadId()), Value(record, kTid));
    // Only the signed forms substitute.
    record.SetFieldValue(kPid, 7u, false);
    EXPECT_EQ("7", Value(record, kPid));
}

TEST(TraceRecord, DoubleBoolAndTextValues)
{
    CKrTraceData record;
    EXPECT_TRUE(record.SetFieldValue(kUser, 3.5, true));
    EXPECT_EQ("3.500000", Value(record, kUser));
    EXPECT_EQ(KR_VALUE_DOUBLE, Type(record, kUser));
    record.SetFieldValue(kUser, -1e300, false);
    EXPECT_EQ("-10000000000000000525047602552044202487", Value(record, kUser));

    record.SetFieldValue(kUser, true, false);
    EXPECT_EQ("1", Value(record, kUser));
    EXPECT_EQ(KR_VALUE_BOOL, Type(record, kUser));
    record.SetFieldValue(kUser, false, false);
    EXPECT_EQ("0", Value(record, kUser));

    const char* alice = "alice";
    record.SetFieldValue(kUser, alice, false);
    EXPECT_EQ(alice, Peer::Field(record, kUser)->value);  // referenced, not copied
    EXPECT_EQ(KR_VALUE_TEXT, Type(record, kUser));
    record.SetFieldValue(kUser, 5, false);
    record.SetFieldValue(kUser, static_cast<const char*>(nullptr), false);
    EXPECT_EQ(nullptr, Peer::Field(record, kUser)->value);
    EXPECT_EQ(KR_VALUE_INT, Type(record, kUser));  // a null text leaves the type
}

TEST(TraceRecord, OutOfRangeIdsAreRefused)
{
    CKrTraceData record;
    EXPECT_FALSE(record.SetFieldValue(67, 1, false));
    EXPECT_FALSE(record.SetFieldValue(67, 1L, false));
    EXPECT_FALSE(record.SetFieldValue(67, 1LL, false));
    EXPECT_FALSE(record.SetFieldValue(67, 1u, false));
    EXPECT_FALSE(record.SetFieldValue(67, 1UL, false));
    EXPECT_FALSE(record.SetFieldValue(67, 1ULL, false));
    EXPECT_FALSE(record.SetFieldValue(67, 1.0, false));
    EXPECT_FALSE(record.SetFieldValue(67, "x", false));
    EXPECT_FALSE(record.SetFieldValue(0xFFFFFFFFu, true, false));
}

TEST(TraceRecord, SettersTestTheFilterOnlyWhenAsked)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables, "components\ndata: User, Realm\nUser ==alice\nRealm ==7\n");
    ASSERT_TRUE(config.read);
    CKrTraceData& record = *config.record;
    EXPECT_FALSE(record.SetFieldValue(kUser, static_cast<const char*>(nullptr), true));
    EXPECT_FALSE(record.SetFieldValue(kUser, "bob", true));
    EXPECT_TRUE(record.SetFieldValue(kUser, "bob", false));
    EXPECT_EQ("bob", Value(record, kUser));  // stored even when the filter fails
    EXPECT_TRUE(record.SetFieldValue(kRealm, 7, true));
    EXPECT_TRUE(record.SetFieldValue(kRealm, 7u, true));
    EXPECT_TRUE(record.SetFieldValue(kRealm, 7LL, true));
    EXPECT_FALSE(record.SetFieldValue(kRealm, 8ULL, true));
    EXPECT_FALSE(record.SetFieldValue(kRealm, 7.0, true));
    EXPECT_FALSE(record.SetFieldValue(kRealm, true, true));
}

TEST_F(FixedClockTest, ClockDriverFillsAllThreeFields)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables, "components\ndata: Date, Time, User\n");
    ASSERT_TRUE(config.read);
    CKrTraceData& record = *config.record;
    ASSERT_EQ(5, Peer::DateTimeField(record));

    EXPECT_TRUE(record.SetFieldValue(kDate, 0, true));  // not the driver: nothing stored
    EXPECT_EQ("<unset>", Value(record, kDate));
    EXPECT_TRUE(record.SetFieldValue(kPreciseTime, 0, true));
    EXPECT_EQ("<unset>", Value(record, kPreciseTime));

    EXPECT_TRUE(record.SetFieldValue(kTime, 0, false));
    EXPECT_EQ("03/05/2024", Value(record, kDate));
    EXPECT_EQ("13:45:12", Value(record, kTime));
    EXPECT_EQ("13:45:12.345", Value(record, kPreciseTime));
    for (unsigned id : {kDate, kTime, kPreciseTime}) EXPECT_EQ(KR_VALUE_TEXT, Type(record, id));

    // Other forms store the clock fields like any other field.
    record.SetFieldValue(kDate, 9u, false);
    EXPECT_EQ("9", Value(record, kDate));
}

TEST_F(FixedClockTest, WithoutDriverTheClockIsNeverRead)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables, "components\ndata: User\n");
    ASSERT_TRUE(config.read);
    for (unsigned id : {kDate, kTime, kPreciseTime}) {
        EXPECT_TRUE(config.record->SetFieldValue(id, 0, true));
        EXPECT_EQ("<unset>", Value(*config.record, id));
    }
}

TEST_F(FixedClockTest, ClockTextsMatchAFreshReadingAcrossSecondsAndTimeModes)
{
    TraceTables tables;
    for (bool local : {false, true}) {
        auto config = ReadConfiguration(tables, "components\ndata: PreciseTime\n", 0, nullptr, local);
        ASSERT_TRUE(config.read);
        CKrTraceData& record = *config.record;
        ASSERT_EQ(6, Peer::DateTimeField(record));
        // Steps within one second, across seconds, days and years, and back in time.
        const long long steps[] = {0, 1, 653, 654, 1000, 86399655, 25 * 86400000LL, -3 * 86400000LL, 999};
        for (long long step : steps) {
            g_now = kTuesdayAfternoon + step;
            ASSERT_TRUE(record.SetFieldValue(kPreciseTime, 0, true));
            char date[32], time[32], precise[32];
            ASSERT_TRUE(CKrErrLogMessage::GetTime(0, date, local, sizeof date));
            ASSERT_TRUE(CKrErrLogMessage::GetTime(1, time, local, sizeof time));
            ASSERT_TRUE(CKrErrLogMessage::GetTime(2, precise, local, sizeof precise));
            EXPECT_EQ(date, Value(record, kDate)) << step;
            EXPECT_EQ(time, Value(record, kTime)) << step;
            EXPECT_EQ(precise, Value(record, kPreciseTime)) << step;
        }
    }
}

TEST_F(FixedClockTest, ClockFiltersAreAlwaysTested)
{
    TraceTables tables;
    // Date is the driver; the Time filter applies although Time is not traced.
    auto config = ReadConfiguration(tables, "components\ndata: Date\nDate ==03/05/2024\nTime @@:46:\n");
    ASSERT_TRUE(config.read);
    CKrTraceData& record = *config.record;
    EXPECT_FALSE(record.SetFieldValue(kDate, 0, false));  // test false does not switch them off
    g_now = kTuesdayAfternoon + 60000;                      // 13:46:12
    EXPECT_TRUE(record.SetFieldValue(kDate, 0, false));
    g_now = kTuesdayAfternoon + 86400000LL + 60000;  // next day
    EXPECT_FALSE(record.SetFieldValue(kDate, 0, true));
}

namespace {

// A record traced with Date, Time, Message and User, as the given format;
// Date, Time and Message are set, User is not.
struct AssembledCase {
    int format;
    const char* delimiter;
    std::string dataLine;
    std::string headerLine;
    bool header;
};

}  // namespace

TEST_F(FixedClockTest, AssemblyInEveryFormat)
{
    const AssembledCase cases[] = {
        {0, nullptr, "[03/05/2024][13:45:12][Started][]\n", "[Date][Time][Message][User]\n", true},
        {1, nullptr,
         "03/05/2024" + Blanks(6) + "  13:45:12  Started" + Blanks(57) + "  " + Blanks(32) + "\n",
         "Date" + Blanks(12) + "  Time" + Blanks(4) + "  Message" + Blanks(57) + "  User" + Blanks(28) + "\n", true},
        {2, ";", "03/05/2024;13:45:12;Started;\n", "Date;Time;Message;User\n", true},
        {2, "<|>", "03/05/2024<|>13:45:12<|>Started<|>\n", "Date<|>Time<|>Message<|>User\n", true},
        {3, nullptr,
         "<TraceMessage>\t<Date>03/05/2024</Date>\t<Time>13:45:12</Time>\t<Message>Started</Message>"
         "\t<User></User></TraceMessage>\n",
         "", false},
        {4, ";", "\n", "\n", true},
    };
    TraceTables tables;
    for (const AssembledCase& c : cases) {
        auto config = ReadConfiguration(tables, "components\ndata: Date, Time, Message, User\n", c.format, c.delimiter);
        ASSERT_TRUE(config.read);
        CKrTraceData& record = *config.record;
        ASSERT_TRUE(record.SetFieldValue(kTime, 0, true));
        ASSERT_TRUE(record.SetFieldValue(kMessage, "Started", true));
        ASSERT_TRUE(record.Format());
        EXPECT_EQ(c.dataLine, record.GetFormattedTraceMessage()) << "format " << c.format;

        CKrErrLogMessage header(false);
        EXPECT_EQ(c.header, Peer::Assemble(record, header, 1));
        EXPECT_EQ(c.headerLine, Text(header)) << "format " << c.format;
        // Modes other than data and header lay out no field.
        CKrErrLogMessage otherMode(false);
        EXPECT_EQ(c.header, Peer::Assemble(record, otherMode, 2));
        EXPECT_EQ(c.header ? "\n" : "", Text(otherMode)) << "format " << c.format;

        // Clean-up empties the message and the values; the next line starts afresh.
        EXPECT_TRUE(record.CleanUpData());
        EXPECT_STREQ("", record.GetFormattedTraceMessage());
        EXPECT_TRUE(AllValuesUnset(record));
        ASSERT_TRUE(record.SetFieldValue(kTime, 0, true));
        ASSERT_TRUE(record.SetFieldValue(kMessage, "Started", true));
        ASSERT_TRUE(record.Format());
        EXPECT_EQ(c.dataLine, record.GetFormattedTraceMessage()) << "format " << c.format;
    }
}

TEST(TraceRecord, FixedWidthColumnsAreCutNotWrapped)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables, "components\ndata: Pid, CacheHits, Message\n", 1);
    ASSERT_TRUE(config.read);
    CKrTraceData& record = *config.record;
    const std::string longMessage(100, 'm');
    record.SetFieldValue(kMessage, longMessage.c_str(), false);
    ASSERT_TRUE(record.SetFieldValue(61, 1234567, false));
    ASSERT_TRUE(record.Format());
    EXPECT_EQ(Blanks(8) + "  12345  " + std::string(64, 'm') + "\n", record.GetFormattedTraceMessage());
}

TEST(TraceRecord, InMemoryAssemblyWritesAbsentFieldsOnlyBeforePresentOnes)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables, "components\ndata: User, Realm, Group, Domain\n");
    ASSERT_TRUE(config.read);
    CKrTraceData& record = *config.record;
    record.SetFieldValue(kUser, "x", false);
    record.SetFieldValue(10, "y", false);
    ASSERT_TRUE(record.InMemFormat());
    EXPECT_STREQ("x||y|\n", record.GetFormattedTraceMessage());
    EXPECT_EQ(nullptr, Peer::Field(record, kUser)->value);
    EXPECT_EQ(nullptr, Peer::Field(record, 10)->value);

    EXPECT_TRUE(record.InMemoryCleanUpData());
    EXPECT_STREQ("", record.GetFormattedTraceMessage());
    // Nothing set: just the newline. Values a field still holds survive the in-memory clean-up.
    record.SetFieldValue(11, "z", false);
    EXPECT_TRUE(record.InMemoryLeaveNoBody());
    EXPECT_EQ("z", Value(record, 11));
    ASSERT_TRUE(record.InMemFormat());
    EXPECT_STREQ("|||z|\n", record.GetFormattedTraceMessage());
    record.InMemoryCleanUpData();
    ASSERT_TRUE(record.InMemFormat());
    EXPECT_STREQ("\n", record.GetFormattedTraceMessage());
}

TEST(TraceRecord, CleanUpOnlyActsOnConfiguredRecords)
{
    // A new record: no values, an empty line, the process-wide logger.
    CKrTraceData record;
    EXPECT_TRUE(AllValuesUnset(record));
    EXPECT_STREQ("", record.GetFormattedTraceMessage());
    EXPECT_EQ(theLogger(), record.GetLogger());
    EXPECT_EQ(nullptr, Peer::LongText(record));
    record.SetFieldValue(kUser, "kept", false);
    EXPECT_TRUE(record.CleanUpData());
    EXPECT_TRUE(record.LeaveNoBody());
    EXPECT_EQ("kept", Value(record, kUser));

    TraceTables tables;
    auto config = ReadConfiguration(tables, "components\ndata: User\n");
    ASSERT_TRUE(config.read);
    config.record->SetFieldValue(kUser, "dropped", false);
    // A line longer than the message's first block grows it; clean-up empties it.
    const std::string huge(10000, 'h');
    config.record->SetFieldValue(kUser, huge.c_str(), false);
    ASSERT_TRUE(config.record->Format());
    EXPECT_EQ("[" + huge + "]\n", config.record->GetFormattedTraceMessage());
    EXPECT_TRUE(config.record->LeaveNoBody());
    EXPECT_EQ("<unset>", Value(*config.record, kUser));
    EXPECT_STREQ("", config.record->GetFormattedTraceMessage());
}

TEST(TraceRecord, RefreshCopiesTheConfigurationOnly)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables, "components: Server/Send\ndata: Realm, Date\nRealm @@corp\n", 2, ";", true);
    ASSERT_TRUE(config.read);
    CKrTraceData& master = *config.record;
    Peer::SetVersion(master, 7);

    CKrTraceData copy;
    CKrLogger* ownLogger = reinterpret_cast<CKrLogger*>(&tables);  // only compared, never used
    copy.SetLogger(ownLogger);
    copy.SetFieldValue(kUser, "value of the running call", false);
    Peer::Refresh(copy, master);

    EXPECT_TRUE(Peer::Configured(copy));
    EXPECT_FALSE(Peer::OwnsConfig(copy));
    EXPECT_EQ(7, copy.GetVersion());
    EXPECT_EQ(2, Peer::Format(copy));
    EXPECT_EQ(4, Peer::DateTimeField(copy));
    EXPECT_EQ(Peer::Delimiter(master), Peer::Delimiter(copy));
    EXPECT_EQ(Peer::Components(master), Peer::Components(copy));
    EXPECT_TRUE(copy.ComponentSelected(kServerSend));
    EXPECT_FALSE(copy.ComponentSelected(kServer));
    EXPECT_EQ((std::vector<int>{12, 4}), Peer::FieldOrder(copy));
    EXPECT_TRUE(copy.FieldFiltered(kRealm));
    EXPECT_EQ(Peer::Field(master, kRealm)->filterValue, Peer::Field(copy, kRealm)->filterValue);
    EXPECT_EQ("value of the running call", Value(copy, kUser));
    EXPECT_EQ(ownLogger, copy.GetLogger());  // the master has no logger

    CKrTraceData second;
    CKrTraceData masterWithLogger;
    masterWithLogger.SetLogger(ownLogger);
    Peer::Refresh(second, masterWithLogger);
    EXPECT_EQ(ownLogger, second.GetLogger());
    Peer::Refresh(second, second);  // self-refresh changes nothing
    EXPECT_EQ(ownLogger, second.GetLogger());
}

TEST(TraceRecord, CopiesOutliveTheirMaster)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables, "components: Agent\ndata: User, Realm\nUser ==alice\n", 2, "::");
    ASSERT_TRUE(config.read);
    CKrTraceData copy;
    CKrTraceData copyOfCopy;
    Peer::Refresh(copy, *config.record);
    Peer::Refresh(copyOfCopy, copy);
    config.record.reset();  // the logger replaced and deleted the master
    tables.DestroyNames();

    for (CKrTraceData* record : {&copy, &copyOfCopy}) {
        EXPECT_TRUE(record->ComponentSelected(kAgent));
        EXPECT_STREQ("Agent", Peer::GetComponentInfo(*record, kAgent)->name);
        EXPECT_TRUE(record->SetFieldValue(kUser, "alice", true));
        EXPECT_FALSE(record->SetFieldValue(kUser, "bob", true));
        record->SetFieldValue(kUser, "alice", true);
        record->SetFieldValue(kRealm, "corp", true);
        ASSERT_TRUE(record->Format());
        EXPECT_STREQ("alice::corp\n", record->GetFormattedTraceMessage());
        record->CleanUpData();
    }
    // A refresh from a newer master lets go of the old configuration.
    auto newer = ReadConfiguration(tables, "components\ndata: Realm\n", 0);
    ASSERT_TRUE(newer.read);
    Peer::Refresh(copy, *newer.record);
    Peer::Refresh(copyOfCopy, *newer.record);
    copy.SetFieldValue(kRealm, "r", false);
    ASSERT_TRUE(copy.Format());
    EXPECT_STREQ("[r]\n", copy.GetFormattedTraceMessage());
}

TEST_F(FixedClockTest, TraceCallsAllocateNothing)
{
    TraceTables tables;
    for (int format = 0; format <= 3; ++format) {
        auto config =
            ReadConfiguration(tables, "components\ndata: Date, PreciseTime, Pid, User, Realm, Message\n", format, ";");
        ASSERT_TRUE(config.read);
        CKrTraceData copy;
        Peer::Refresh(copy, *config.record);
        const std::string message(3000, 'm');
        const long before = AllocationsOnThisThread();
        for (int call = 0; call < 3; ++call) {
            g_now += 1500;
            copy.SetFieldValue(kPreciseTime, 0, true);
            copy.SetFieldValue(kPid, 0, true);
            copy.SetFieldValue(kUser, "alice", true);
            copy.SetFieldValue(kRealm, 12.5, true);
            copy.SetFieldValue(kMessage, copy.FormatTraceMessage("%s", message.c_str(), 1), true);
            ASSERT_TRUE(copy.Format());
            copy.CleanUpData();
            copy.SetFieldValue(kUser, "bob", true);
            copy.InMemFormat();
            copy.InMemoryCleanUpData();
        }
        EXPECT_EQ(0, AllocationsOnThisThread() - before) << "format " << format;
        EXPECT_EQ(nullptr, Peer::LongText(copy));
    }
}
