// The trace configuration file: line kinds, failures, selection, filters.
#include "TraceDataTestPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace krtest;
using Peer = CKrTraceDataTestPeer;
using Names = std::vector<std::string>;
using Order = std::vector<int>;

namespace {

// The selected component names of a record, in list order.
Names Selected(CKrTraceData& record, TraceTables& tables)
{
    Names names;
    for (int i = 0; i < tables.ComponentCount(); ++i) {
        const unsigned id = tables.Components()[i].id;
        if (record.ComponentSelected(id)) names.emplace_back(Peer::GetComponentInfo(record, id)->name);
    }
    return names;
}

// A field's filter as a file writes it ("!@bob"), or "" when it has none.
std::string Filter(CKrTraceData& record, unsigned id)
{
    const KrTraceDataFieldInfo* field = Peer::Field(record, id);
    if (!field->filtered) return "";
    const int op = field->filterOp;
    const char* symbol = op == KR_FILTER_EQUAL          ? "=="
                         : op == KR_FILTER_NOT_EQUAL    ? "!="
                         : op == KR_FILTER_CONTAINS     ? "@@"
                         : op == KR_FILTER_NOT_CONTAINS ? "!@"
                                                        : "?";
    return symbol + std::string(field->filterValue ? field->filterValue : "<null>");
}

}  // namespace

TEST(TraceConfigReader, SelectionFieldOrderFiltersAndClockDriver)
{
    const std::string older = "components: Login_Logout/Authentication, IsAuthorized\ndata: User\n";
    const Names all = {"Login_Logout/Authentication", "Login_Logout/Send_Response", "Login_Logout/Receive_Request",
                       "IsAuthorized", "IsAuthorized/Send_Response", "IsAuthorized/Receive_Request"};
    // From version 1.1 on, a selected sub-component no longer pulls in its sibling pair.
    const Names newer = {all[0], all[3], all[4], all[5]};
    const std::string lf = "# trace\nversion 1.1\ncomponents: Agent, Server/Send\ndata: Date, User, Realm\n"
                           "User == alice \nRealm @@corp\n";
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const Names agent = {"Agent"}, agentAndSend = {"Server/Send", "Agent"};
    // clock: the traced clock field that reads the clock for all three (the highest one), or 0.
    const struct { std::string file; Names selected; Order order; std::string userFilter, realmFilter; int clock; }
        cases[] = {
        {"components: Agent\ndata: User, Message, Realm\n", agent, {9, 0, 12}, "", "", 0},
        {"components: Nowhere,Agent,agent\ndata:User,Realm,User,user,Bogus\n", agent, {9, 12}, "", "", 0},
        {"components\ndata\n", {}, {}, "", "", 0},
        {"", {}, {}, "", "", 0},
        // Comments, blank and version lines anywhere; a commented filter is no filter.
        {"\n# a comment\n  ,:# indented comment\nversion 2.0\ncomponents: Agent\n\n#between\nversion\n"
         "data: User\n# after\nversion 3\nUser ==alice\n\n#User ==bob\n",
         agent, {9}, "==alice", "", 0},
        // Once in the filter lines, keyword lines name no field and are skipped.
        {"components: Agent\ndata: User\ncomponents: Server\ndata: Realm\n", agent, {9}, "", "", 0},
        // A later filter of a field replaces an earlier one; "=" is no operator.
        {"components\ndata: User\nUser ==alice\nUser\t!@bob\nUser==carol\nUser =dave\n", {}, {9}, "==carol", "", 0},
        {"version 1.1\ncomponents: Server\ndata: User\n", {"Server", "Server/Send", "Server/Receive"}, {9}, "", "", 0},
        {"version 1.1\ncomponents: Server/Receive\ndata: User\n", {"Server/Receive"}, {9}, "", "", 0},
        {older, all, {9}, "", "", 0},
        {"version 1.1\n" + older, newer, {9}, "", "", 0},
        {"version 11.1\n" + older, newer, {9}, "", "", 0},
        {"version: v1.1b\n" + older, newer, {9}, "", "", 0},
        {older + "User ==x\nversion 1.1\n", newer, {9}, "==x", "", 0},
        {"version 2.0\n" + older, all, {9}, "", "", 0},
        {"version\n" + older, all, {9}, "", "", 0},
        {"version 1,1\n" + older, all, {9}, "", "", 0},
        {"components: IsAuthorized/Send_Response\ndata\n", {"IsAuthorized/Send_Response"}, {}, "", "", 0},
        // Line ends: LF, CRLF, CRLF without the last one, a stray CR before the last LF.
        {lf, agentAndSend, {4, 9, 12}, "== alice ", "@@corp", 4},
        {crlf, agentAndSend, {4, 9, 12}, "== alice ", "@@corp", 4},
        {crlf.substr(0, crlf.size() - 2), agentAndSend, {4, 9, 12}, "== alice ", "@@corp", 4},
        {lf.substr(0, lf.size() - 1) + "\r\r\n", agentAndSend, {4, 9, 12}, "== alice ", "@@corp", 4},
        {"components\ndata: Time, Date\n", {}, {5, 4}, "", "", 5},
        {"components\ndata: PreciseTime, Date\n", {}, {6, 4}, "", "", 6},
        {"components\ndata: Date, Time, PreciseTime\n", {}, {4, 5, 6}, "", "", 6},
    };
    TraceTables tables;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        auto config = ReadConfiguration(tables, c.file);
        ASSERT_TRUE(config.read);
        CKrTraceData& record = *config.record;
        EXPECT_TRUE(Peer::Configured(record) && Peer::OwnsConfig(record));
        EXPECT_EQ(c.selected, Selected(record, tables));
        EXPECT_FALSE(record.ComponentSelected(0x01030000));  // no such entry
        EXPECT_EQ(c.order, Peer::FieldOrder(record));
        for (unsigned id = 0; id <= KR_KNOWN_DATA_FIELD_COUNT; ++id)
            EXPECT_EQ(std::count(c.order.begin(), c.order.end(), int(id)) == 1, record.FieldTraced(id)) << id;
        EXPECT_EQ(c.userFilter, Filter(record, kUser));
        EXPECT_EQ(c.realmFilter, Filter(record, kRealm));
        EXPECT_EQ(c.clock, Peer::DateTimeField(record));
    }
    // The logger's tables are left as they were.
    EXPECT_FALSE(tables.Components()[10].selected);
    EXPECT_FALSE(tables.Fields()[kUser].traced);
}

TEST(TraceConfigReader, FailureTable)
{
    TraceTables tables;
    // The file must start with a components line, then a data line.
    for (const char* file : {"data: User\ncomponents: Agent\n", "components: Agent\nUser ==alice\ndata: User\n",
                             "User ==alice\n", "Components: Agent\ndata: User\n",
                             "components: Agent\ncomponents: Server\ndata: User\n"})
        EXPECT_FALSE(ReadConfiguration(tables, file).read) << file;
    // Unreadable files (missing, none named, a folder) and missing tables.
    ScratchDir dir;
    const std::string ok = dir.File("ok.conf");
    WriteFile(ok, "components: Agent\ndata: User\n");
    KrTraceComponentInfo* components = tables.Components();
    KrTraceDataFieldInfo* fields = tables.Fields();
    const struct { const char* file; KrTraceComponentInfo* components; KrTraceDataFieldInfo* fields; bool read; }
        cases[] = {
        {"/nonexistent/dir/trace.conf", components, fields, false}, {nullptr, components, fields, false},
        {dir.Path().c_str(), components, fields, false},            {ok.c_str(), nullptr, fields, false},
        {ok.c_str(), components, nullptr, false},                   {ok.c_str(), components, fields, true},
    };
    for (const auto& c : cases) {
        CKrTraceData record;
        EXPECT_EQ(c.read, Peer::SetConfiguration(record, 0, nullptr, c.file, tables.ComponentCount(), c.components,
                                                 c.fields, false))
            << (c.file ? c.file : "null");
        EXPECT_TRUE((c.components && c.fields) || !Peer::Configured(record)) << "configured without tables";
    }
    // MarkComponentTraced: false only without a component list.
    CKrTraceData empty;
    EXPECT_FALSE(Peer::MarkComponentTraced(empty, kServer));
    EXPECT_FALSE(empty.ComponentSelected(kServer));
    auto config = ReadConfiguration(tables, "components\ndata\n");
    EXPECT_TRUE(Peer::MarkComponentTraced(*config.record, kLoginLogout));
    EXPECT_TRUE(config.record->ComponentSelected(kLoginReceiveRequest));
}

TEST(TraceConfigReader, FilterLinesAndFilterTest)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables,
                                    "components: Agent\ndata: User, Realm, Group, Domain, Message\nUser ==alice\n"
                                    "Realm @@corp\nGroup !=admins\nDomain !@test\nMessage ==\nAgentType ==7\n"
                                    "Directory  \t!=  corp # not a comment\nAgentName:@@\nDate !@x\nTenant =alice\n"
                                    "Policy\nRule ==\nTransactionID,==g\nObjectClass: ,==d\n");
    ASSERT_TRUE(config.read);
    CKrTraceData& record = *config.record;
    // Values are not trimmed. A single '=', a bare name, and a second separator
    // before the operator: no filter.
    const std::pair<unsigned, const char*> filters[] = {
        {kUser, "==alice"}, {kRealm, "@@corp"}, {10, "!=admins"}, {11, "!@test"}, {kMessage, "=="}, {17, "==7"},
        {15, "!=  corp # not a comment"}, {16, "@@"}, {kDate, "!@x"}, {65, ""}, {13, ""}, {14, "=="}, {18, "==g"},
        {19, ""},
    };
    for (const auto& [id, filter] : filters) EXPECT_EQ(filter, Filter(record, id)) << id;
    EXPECT_FALSE(record.FieldTraced(kDate)) << "a filter does not make the field traced";
    const struct { unsigned id; const char* value; bool passes; } cases[] = {
        {kUser, "alice", true},    {kUser, "bob", false},   {kUser, "Alice", false},  {kUser, "alice ", false},
        {kUser, nullptr, false},   {kRealm, "mycorpnet", true}, {kRealm, "corp", true}, {kRealm, "cor", false},
        {kRealm, nullptr, false},  {10, "users", true},     {10, "admins", false},    {10, nullptr, true},
        {11, "prod", true},        {11, "a-test-b", false}, {11, nullptr, true},      {kMessage, nullptr, true},
        {kMessage, "", true},      {kMessage, "x", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + " " + (c.value ? c.value : "null"));
        EXPECT_EQ(c.passes, record.SetFieldValue(c.id, c.value, true));
        EXPECT_EQ(c.passes, Peer::TestDataFilter(record, c.id));
        EXPECT_TRUE(record.SetFieldValue(c.id, c.value, false)) << "without test the setter stores and answers true";
        EXPECT_EQ(c.value ? c.value : "<unset>", Value(record, c.id));
    }
    // Numbers are compared as their texts.
    EXPECT_TRUE(record.SetFieldValue(17, 7, true) && record.SetFieldValue(17, 7u, true) &&
                record.SetFieldValue(17, 7LL, true));
    EXPECT_FALSE(record.SetFieldValue(17, 8ULL, true) || record.SetFieldValue(17, 7.0, true) ||
                 record.SetFieldValue(17, true, true));
    // An unknown operator code never passes; out-of-range ids neither.
    Peer::Field(record, kUser)->filterOp = 3;
    record.SetFieldValue(kUser, "alice", false);
    EXPECT_FALSE(Peer::TestDataFilter(record, kUser));
    EXPECT_FALSE(Peer::TestDataFilter(record, 67));
}

TEST(TraceConfigReader, LongLinesAndManyFilterLines)
{
    TraceTables tables;
    std::string file = "components: Agent\ndata: User\nUser ==" + std::string(100000, 'v') + "\n";
    for (int i = 0; i < 5000; ++i) file += "User @@value" + std::to_string(i) + "\n";
    auto config = ReadConfiguration(tables, file + "Realm ==" + std::string(9000, 'r'));
    ASSERT_TRUE(config.read);
    EXPECT_EQ("@@value4999", Filter(*config.record, kUser));
    // The line reader keeps at most 8,091 bytes of a line.
    EXPECT_EQ("==" + std::string(8091 - 8, 'r'), Filter(*config.record, kRealm));
}

TEST(TraceConfigReader, ReadingIntoACopyLeavesTheSharedConfigurationAlone)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables, "components: Agent\ndata: User\nUser ==alice\n", 2, ";");
    ASSERT_TRUE(config.read);
    CKrTraceData copy;
    Peer::Refresh(copy, *config.record);
    ScratchDir dir;
    WriteFile(dir.File("more.conf"), "components: Server\ndata: Realm\nUser ==bob\n");
    ASSERT_TRUE(Peer::ReadConfigFile(copy, dir.File("more.conf").c_str()));
    EXPECT_TRUE(copy.ComponentSelected(kServer) && copy.ComponentSelected(kAgent));
    EXPECT_EQ("==bob", Filter(copy, kUser));
    EXPECT_STREQ(";", Peer::Delimiter(copy));
    EXPECT_TRUE(Peer::OwnsConfig(copy));
    // The master, and every other copy of it, still read the first file.
    EXPECT_FALSE(config.record->ComponentSelected(kServer));
    EXPECT_EQ("==alice", Filter(*config.record, kUser));
}

// Filters as administrators write them: the operator right after the field
// name. A token that merely starts with a known name is no filter line.
TEST(TraceConfigReader, FilterLinesWithoutABlankBeforeTheOperator)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables,
                                    "components: Agent\ndata: User, Realm\nUser==alice\nRealm@@corp, west\n"
                                    "Group!= admins\nDomain!@\nTenant==\nUsername==x\nRealmX@@y\nMessage=alice\n");
    ASSERT_TRUE(config.read);
    CKrTraceData& record = *config.record;
    const std::pair<unsigned, const char*> filters[] = {
        {kUser, "==alice"}, {kRealm, "@@corp, west"}, {10, "!= admins"}, {11, "!@"}, {65, "=="}, {kMessage, ""},
    };
    for (const auto& [id, filter] : filters) EXPECT_EQ(filter, Filter(record, id)) << id;
    EXPECT_TRUE(record.SetFieldValue(kUser, "alice", true));
    EXPECT_FALSE(record.SetFieldValue(kUser, "bob", true));
    EXPECT_TRUE(record.SetFieldValue(kRealm, "eu-corp, west", true));
    EXPECT_FALSE(record.SetFieldValue(kRealm, "corp", true));
}

// A configuration parsed from memory reads exactly as the same bytes in a file.
TEST(TraceConfigReader, TextInMemoryReadsLikeTheSameFile)
{
    const std::string texts[] = {
        "",
        "components: Agent\r\ndata: User, Realm\r\nUser ==alice\r\r\n",
        "# c\nversion 1.1\ncomponents: Agent\ndata: Realm, User\nRealm@@co\0rp\nUser !=" + std::string(9000, 'u'),
        std::string("components: Agent\ndata: User\nUser ==a\0b\n", 40),
        "data: User\n",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 60));
        TraceTables fromFile, fromMemory;
        auto file = ReadConfiguration(fromFile, text);
        CKrTraceData record;
        const bool read = Peer::ReadConfigText(record, text, fromMemory.ComponentCount(), fromMemory.Components(),
                                               fromMemory.Fields());
        ASSERT_EQ(file.read, read);
        if (!read) continue;
        EXPECT_EQ(Selected(*file.record, fromFile), Selected(record, fromMemory));
        EXPECT_EQ(Peer::FieldOrder(*file.record), Peer::FieldOrder(record));
        for (unsigned id = 0; id < KR_KNOWN_DATA_FIELD_COUNT; ++id)
            EXPECT_EQ(Filter(*file.record, id), Filter(record, id)) << id;
    }
}
