// The trace record: values, the clock, line assembly, clean-up and the refresh.
#include "TraceDataTestPeer.h"
#include "testsupport/AllocationCounter.h"

#include <krerrlog/logger/CKrLogger.h>
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

// Stores value through the setter for its type; an out-of-range id is refused.
template <class T>
void ExpectStored(CKrTraceData& record, T value, const char* text, int type)
{
    SCOPED_TRACE(text);
    EXPECT_TRUE(record.SetFieldValue(kUser, value, false));
    EXPECT_EQ(text, Value(record, kUser));
    EXPECT_EQ(type, Type(record, kUser));
    EXPECT_FALSE(record.SetFieldValue(67u, value, false));
    EXPECT_FALSE(record.SetFieldValue(0xFFFFFFFFu, value, false));
}

}  // namespace

TEST(TraceRecord, ValuesOfEveryTypePidTidAndOutOfRangeIds)
{
    CKrTraceData record;
    ExpectStored(record, -42, "-42", KR_VALUE_INT);
    ExpectStored(record, INT_MIN, "-2147483648", KR_VALUE_INT);
    ExpectStored(record, INT_MAX, "2147483647", KR_VALUE_INT);
    ExpectStored(record, 0, "0", KR_VALUE_INT);
    // The wide forms keep the low thirty-two bits.
    ExpectStored(record, 4294967296LL, "0", KR_VALUE_INT);
    ExpectStored(record, 4294967295LL, "-1", KR_VALUE_INT);
    ExpectStored(record, -1LL, "-1", KR_VALUE_INT);
    ExpectStored(record, 6442450943L, "2147483647", KR_VALUE_INT);
    ExpectStored(record, 4294967297ULL, "1", KR_VALUE_UINT);
    ExpectStored(record, ~0ULL, "4294967295", KR_VALUE_UINT);
    ExpectStored(record, 4294967296UL + 5UL, "5", KR_VALUE_UINT);
    ExpectStored(record, 4000000000u, "4000000000", KR_VALUE_UINT);
    EXPECT_EQ(Peer::Field(record, kUser)->text, Peer::Field(record, kUser)->value);  // the field's own text
    ExpectStored(record, 3.5, "3.500000", KR_VALUE_DOUBLE);
    ExpectStored(record, -1e300, "-10000000000000000525047602552044202487", KR_VALUE_DOUBLE);
    ExpectStored(record, true, "1", KR_VALUE_BOOL);
    ExpectStored(record, false, "0", KR_VALUE_BOOL);
    const char* alice = "alice";
    ExpectStored(record, alice, "alice", KR_VALUE_TEXT);
    EXPECT_EQ(alice, Peer::Field(record, kUser)->value);  // referenced, not copied
    record.SetFieldValue(kUser, 5, false);
    record.SetFieldValue(kUser, static_cast<const char*>(nullptr), false);
    EXPECT_EQ(nullptr, Peer::Field(record, kUser)->value);
    EXPECT_EQ(KR_VALUE_INT, Type(record, kUser));  // a null text leaves the type
    // Pid and Tid: the signed forms substitute the caller's ids.
    EXPECT_TRUE(record.SetFieldValue(kPid, 12345, true));
    EXPECT_EQ(std::to_string(krerrlog::CurrentProcessId()), Value(record, kPid));
    EXPECT_EQ(KR_VALUE_INT, Type(record, kPid));
    EXPECT_TRUE(record.SetFieldValue(kTid, 7L, true));
    EXPECT_EQ(std::to_string(krerrlog::CurrentThreadId()), Value(record, kTid));
    record.SetFieldValue(kPid, 7u, false);
    EXPECT_EQ("7", Value(record, kPid));
}

TEST_F(FixedClockTest, OnlyTheClockDriverReadsTheClockAndFillsAllThreeFields)
{
    TraceTables tables;
    auto none = ReadConfiguration(tables, "components\ndata: User\n");
    ASSERT_TRUE(none.read);
    for (unsigned id : {kDate, kTime, kPreciseTime}) {
        EXPECT_TRUE(none.record->SetFieldValue(id, 0, true));
        EXPECT_EQ("<unset>", Value(*none.record, id));
    }
    for (const char* data : {"components\ndata: Date, Time, User\n", "components\ndata: PreciseTime\n"}) {
        for (bool local : {false, true}) {
            SCOPED_TRACE(std::string(data) + (local ? " local" : " UTC"));
            auto config = ReadConfiguration(tables, data, 0, nullptr, local);
            ASSERT_TRUE(config.read);
            CKrTraceData& record = *config.record;
            const unsigned driver = static_cast<unsigned>(Peer::DateTimeField(record));
            for (unsigned id : {kDate, kTime, kPreciseTime}) {  // not the driver: nothing stored
                if (id == driver) continue;
                EXPECT_TRUE(record.SetFieldValue(id, 0, true));
                EXPECT_EQ("<unset>", Value(record, id));
            }
            // Steps within one second, across seconds, days and years, and back in time.
            for (long long step : {0LL, 1LL, 653LL, 654LL, 1000LL, 86399655LL, 25 * 86400000LL, -3 * 86400000LL,
                                   999LL}) {
                g_now = kTuesdayAfternoon + step;
                ASSERT_TRUE(record.SetFieldValue(driver, 0, true));
                for (unsigned form = 0; form < 3; ++form) {
                    char fresh[32];
                    ASSERT_TRUE(CKrErrLogMessage::GetTime(int(form), fresh, local, sizeof fresh));
                    EXPECT_EQ(fresh, Value(record, kDate + form)) << step;
                    EXPECT_EQ(KR_VALUE_TEXT, Type(record, kDate + form));
                }
            }
            record.SetFieldValue(kDate, 9u, false);  // other forms store the clock fields like any other field
            EXPECT_EQ("9", Value(record, kDate));
        }
    }
}

TEST_F(FixedClockTest, ClockFiltersAreAlwaysTested)
{
    TraceTables tables;
    // Date is the driver; the Time filter applies although Time is not traced.
    auto config = ReadConfiguration(tables, "components\ndata: Date\nDate ==03/05/2024\nTime @@:46:\n");
    ASSERT_TRUE(config.read);
    EXPECT_FALSE(config.record->SetFieldValue(kDate, 0, false));  // test false does not switch them off
    g_now = kTuesdayAfternoon + 60000;                               // 13:46:12
    EXPECT_TRUE(config.record->SetFieldValue(kDate, 0, false));
    g_now = kTuesdayAfternoon + 86400000LL + 60000;  // next day
    EXPECT_FALSE(config.record->SetFieldValue(kDate, 0, true));
}

TEST_F(FixedClockTest, AssemblyInEveryFormat)
{
    // Date, Time and Message set, User not.
    const struct { int format; const char* delimiter; std::string dataLine, headerLine; bool header; } cases[] = {
        {0, nullptr, "[03/05/2024][13:45:12][Started][]\n", "[Date][Time][Message][User]\n", true},
        {1, nullptr, "03/05/2024" + Blanks(6) + "  13:45:12  Started" + Blanks(57) + "  " + Blanks(32) + "\n",
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
    for (const auto& c : cases) {
        SCOPED_TRACE("format " + std::to_string(c.format));
        auto config = ReadConfiguration(tables, "components\ndata: Date, Time, Message, User\n", c.format, c.delimiter);
        ASSERT_TRUE(config.read);
        CKrTraceData& record = *config.record;
        // Twice: clean-up empties the message and the values, and the next line starts afresh.
        for (int line = 0; line < 2; ++line) {
            ASSERT_TRUE(record.SetFieldValue(kTime, 0, true));
            ASSERT_TRUE(record.SetFieldValue(kMessage, "Started", true));
            ASSERT_TRUE(record.Format());
            EXPECT_EQ(c.dataLine, record.GetFormattedTraceMessage());
            EXPECT_TRUE(record.CleanUpData());
            EXPECT_STREQ("", record.GetFormattedTraceMessage());
            EXPECT_TRUE(AllValuesUnset(record));
        }
        // Modes other than data and header lay out no field.
        CKrErrLogMessage header(false), otherMode(false);
        EXPECT_EQ(c.header, Peer::Assemble(record, header, 1));
        EXPECT_EQ(c.headerLine, Text(header));
        EXPECT_EQ(c.header, Peer::Assemble(record, otherMode, 2));
        EXPECT_EQ(c.header ? "\n" : "", Text(otherMode));
    }
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
    EXPECT_TRUE(AllValuesUnset(record));
    EXPECT_TRUE(record.InMemoryCleanUpData());
    EXPECT_STREQ("", record.GetFormattedTraceMessage());
    // Values a field still holds survive the in-memory clean-up that leaves no body.
    record.SetFieldValue(11, "z", false);
    EXPECT_TRUE(record.InMemoryLeaveNoBody());
    EXPECT_EQ("z", Value(record, 11));
    ASSERT_TRUE(record.InMemFormat());
    EXPECT_STREQ("|||z|\n", record.GetFormattedTraceMessage());
    record.InMemoryCleanUpData();
    ASSERT_TRUE(record.InMemFormat());  // nothing set: just the newline
    EXPECT_STREQ("\n", record.GetFormattedTraceMessage());
}

TEST(TraceRecord, CleanUpOnlyActsOnConfiguredRecords)
{
    CKrTraceData record;
    record.SetFieldValue(kUser, "kept", false);
    EXPECT_TRUE(record.CleanUpData());
    EXPECT_TRUE(record.LeaveNoBody());
    EXPECT_EQ("kept", Value(record, kUser));

    TraceTables tables;
    auto config = ReadConfiguration(tables, "components\ndata: User\n");
    ASSERT_TRUE(config.read);
    // A line longer than the message's first block grows it; clean-up empties it.
    const std::string huge(10000, 'h');
    config.record->SetFieldValue(kUser, huge.c_str(), false);
    ASSERT_TRUE(config.record->Format());
    EXPECT_EQ("[" + huge + "]\n", config.record->GetFormattedTraceMessage());
    EXPECT_TRUE(config.record->LeaveNoBody());
    EXPECT_EQ("<unset>", Value(*config.record, kUser));
    EXPECT_STREQ("", config.record->GetFormattedTraceMessage());
}

TEST_F(FixedClockTest, CopiesTakeTheConfigurationOnlyAndOutliveMasterAndTables)
{
    TraceTables tables;
    auto config =
        ReadConfiguration(tables, "components: Server/Send\ndata: Realm, Date\nRealm @@corp\n", 2, "::", true);
    ASSERT_TRUE(config.read);
    Peer::SetVersion(*config.record, 7);
    CKrTraceData copy, copyOfCopy;
    CKrLogger* ownLogger = reinterpret_cast<CKrLogger*>(&tables);  // only compared, never used
    copy.SetLogger(ownLogger);
    copy.SetFieldValue(kUser, "value of the running call", false);
    Peer::Refresh(copy, *config.record);
    Peer::Refresh(copy, copy);  // self-refresh changes nothing
    Peer::Refresh(copyOfCopy, copy);
    config.record.reset();  // the logger replaced and deleted the master
    tables.DestroyNames();
    EXPECT_EQ("value of the running call", Value(copy, kUser));
    EXPECT_EQ(ownLogger, copy.GetLogger());        // the master had none: the copy keeps its own
    EXPECT_EQ(ownLogger, copyOfCopy.GetLogger());  // taken from a source that has one
    char date[32];
    ASSERT_TRUE(CKrErrLogMessage::GetTime(0, date, true, sizeof date));
    for (CKrTraceData* record : {&copy, &copyOfCopy}) {
        EXPECT_TRUE(Peer::Configured(*record));
        EXPECT_FALSE(Peer::OwnsConfig(*record));
        EXPECT_EQ(7, record->GetVersion());
        EXPECT_TRUE(record->ComponentSelected(kServerSend));
        EXPECT_FALSE(record->ComponentSelected(kServer));
        EXPECT_STREQ("Server/Send", Peer::GetComponentInfo(*record, kServerSend)->name);
        EXPECT_EQ(Peer::GetComponentInfo(*record, kServerSend), Peer::GetComponentInfo(*record, "Server/Send"));
        // Format, delimiter, field order, filter, clock driver and local time come along.
        EXPECT_FALSE(record->SetFieldValue(kRealm, "other", true));
        ASSERT_TRUE(record->SetFieldValue(kRealm, "mycorp", true) && record->SetFieldValue(kDate, 0, true));
        ASSERT_TRUE(record->Format());
        EXPECT_EQ("mycorp::" + std::string(date) + "\n", record->GetFormattedTraceMessage());
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
    const std::string message(3000, 'm');
    for (int format = 0; format <= 3; ++format) {
        auto config =
            ReadConfiguration(tables, "components\ndata: Date, PreciseTime, Pid, User, Realm, Message\n", format, ";");
        ASSERT_TRUE(config.read);
        CKrTraceData copy;
        Peer::Refresh(copy, *config.record);
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
