// The trace configuration file: line kinds, failures, selection, filters.
#include "TraceDataTestPeer.h"

#include <krerrlog/trace/KrTraceConfigTokenizer.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace krtest;
using Peer = CKrTraceDataTestPeer;
using Names = std::vector<std::string>;

namespace {

Names Tokens(const std::string& line)
{
    krerrlog::TraceConfigTokenizer tokenizer(line);
    Names tokens;
    std::string_view token;
    while (tokenizer.Next(token)) tokens.emplace_back(token);
    return tokens;
}

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

}  // namespace

TEST(TraceConfigTokenizer, SplitsAtRunsOfSeparators)
{
    EXPECT_EQ((Names{"data", "User", "Realm", "User"}), Tokens("data: User,Realm , \tUser\n"));
    EXPECT_EQ((Names{}), Tokens(" ,:\t\n"));
    EXPECT_EQ((Names{"a=b", "c\r"}), Tokens("::a=b,c\r"));
    krerrlog::TraceConfigTokenizer tokenizer("User  ==x");
    std::string_view token;
    ASSERT_TRUE(tokenizer.Next(token));
    EXPECT_EQ(4u, tokenizer.Position());
}

TEST(TraceConfigReader, ComponentsAndFieldsInDataLineOrder)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables, "components: Agent\ndata: User, Message, Realm\n");
    ASSERT_TRUE(config.read);
    CKrTraceData& record = *config.record;
    EXPECT_EQ((Names{"Agent"}), Selected(record, tables));
    EXPECT_EQ((std::vector<int>{9, 0, 12}), Peer::FieldOrder(record));
    EXPECT_TRUE(record.FieldTraced(kUser));
    EXPECT_TRUE(record.FieldTraced(kMessage));
    EXPECT_FALSE(record.FieldTraced(1));
    EXPECT_FALSE(record.FieldTraced(67));
    EXPECT_FALSE(record.FieldFiltered(kUser));
    EXPECT_TRUE(Peer::Configured(record));
    EXPECT_TRUE(Peer::OwnsConfig(record));
}

TEST(TraceConfigReader, RepeatedAndUnknownNamesAreIgnored)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables, "components: Nowhere,Agent,agent\ndata:User,Realm,User,user,Bogus\n");
    ASSERT_TRUE(config.read);
    EXPECT_EQ((Names{"Agent"}), Selected(*config.record, tables));
    EXPECT_EQ((std::vector<int>{9, 12}), Peer::FieldOrder(*config.record));
}

TEST(TraceConfigReader, EmptyNameListsAndEmptyFile)
{
    TraceTables tables;
    auto bare = ReadConfiguration(tables, "components\ndata\n");
    ASSERT_TRUE(bare.read);
    EXPECT_TRUE(Selected(*bare.record, tables).empty());
    EXPECT_TRUE(Peer::FieldOrder(*bare.record).empty());

    auto empty = ReadConfiguration(tables, "");
    ASSERT_TRUE(empty.read);
    EXPECT_TRUE(Selected(*empty.record, tables).empty());
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
    WriteFile(dir.File("ok.conf"), "components: Agent\ndata: User\n");
    const std::string ok = dir.File("ok.conf");
    bool configured = false;
    auto set = [&](const char* file, KrTraceComponentInfo* components, KrTraceDataFieldInfo* fields) {
        CKrTraceData record;
        const bool read = Peer::SetConfiguration(record, 0, nullptr, file, tables.ComponentCount(), components,
                                                 fields, false);
        configured = Peer::Configured(record);
        return read;
    };
    EXPECT_FALSE(set("/nonexistent/dir/trace.conf", tables.Components(), tables.Fields()));
    EXPECT_FALSE(set(nullptr, tables.Components(), tables.Fields()));
    EXPECT_FALSE(set(dir.Path().c_str(), tables.Components(), tables.Fields()));
    EXPECT_FALSE(set(ok.c_str(), nullptr, tables.Fields()));
    EXPECT_FALSE(configured);
    EXPECT_FALSE(set(ok.c_str(), tables.Components(), nullptr));
    EXPECT_FALSE(configured);
    EXPECT_TRUE(set(ok.c_str(), tables.Components(), tables.Fields())) << "the control case reads";
}

TEST(TraceConfigReader, CommentsBlankAndVersionLinesAnywhere)
{
    TraceTables tables;
    const std::string file =
        "\n# a comment\n  ,:# indented comment\nversion 2.0\n"
        "components: Agent\n\n#between\nversion\n"
        "data: User\n# after\nversion 3\nUser ==alice\n\n#User ==bob\n";
    auto config = ReadConfiguration(tables, file);
    ASSERT_TRUE(config.read);
    EXPECT_EQ((Names{"Agent"}), Selected(*config.record, tables));
    KrTraceDataFieldInfo* user = Peer::Field(*config.record, kUser);
    ASSERT_TRUE(user->filtered);
    EXPECT_STREQ("alice", user->filterValue);
    // Lines in the filter state that name no field are skipped, keywords included.
    auto extra = ReadConfiguration(tables, "components: Agent\ndata: User\ncomponents: Server\ndata: Realm\n");
    ASSERT_TRUE(extra.read);
    EXPECT_EQ((Names{"Agent"}), Selected(*extra.record, tables));
    EXPECT_EQ((std::vector<int>{9}), Peer::FieldOrder(*extra.record));
}

TEST(TraceConfigReader, SubComponentSelection)
{
    TraceTables tables;
    auto whole = ReadConfiguration(tables, "version 1.1\ncomponents: Server\ndata: User\n");
    ASSERT_TRUE(whole.read);
    EXPECT_EQ((Names{"Server", "Server/Send", "Server/Receive"}), Selected(*whole.record, tables));

    auto one = ReadConfiguration(tables, "version 1.1\ncomponents: Server/Receive\ndata: User\n");
    ASSERT_TRUE(one.read);
    EXPECT_EQ((Names{"Server/Receive"}), Selected(*one.record, tables));
    EXPECT_FALSE(one.record->ComponentSelected(kServer));
    EXPECT_FALSE(one.record->ComponentSelected(0x01030000));  // no such entry

    // MarkComponentTraced on its own: false only without a component list.
    EXPECT_TRUE(Peer::MarkComponentTraced(*one.record, kLoginLogout));
    EXPECT_TRUE(one.record->ComponentSelected(kLoginReceiveRequest));
    CKrTraceData empty;
    EXPECT_FALSE(Peer::MarkComponentTraced(empty, kServer));
    EXPECT_FALSE(empty.ComponentSelected(kServer));
}

TEST(TraceConfigReader, VersionRulesForOlderFiles)
{
    TraceTables tables;
    const std::string body = "components: Login_Logout/Authentication, IsAuthorized\ndata: User\n";
    auto older = ReadConfiguration(tables, body);
    ASSERT_TRUE(older.read);
    EXPECT_EQ((Names{"Login_Logout/Authentication", "Login_Logout/Send_Response", "Login_Logout/Receive_Request",
                     "IsAuthorized", "IsAuthorized/Send_Response", "IsAuthorized/Receive_Request"}),
              Selected(*older.record, tables));

    for (const char* version : {"version 1.1\n", "version 11.1\n", "version: v1.1b\n"}) {
        auto newer = ReadConfiguration(tables, version + body);
        ASSERT_TRUE(newer.read);
        EXPECT_EQ((Names{"Login_Logout/Authentication", "IsAuthorized", "IsAuthorized/Send_Response",
                         "IsAuthorized/Receive_Request"}),
                  Selected(*newer.record, tables))
            << version;
    }
    // The version line may also come last.
    auto last = ReadConfiguration(tables, body + "User ==x\nversion 1.1\n");
    ASSERT_TRUE(last.read);
    EXPECT_FALSE(last.record->ComponentSelected(kLoginSendResponse));

    for (const char* version : {"version 2.0\n", "version\n", "version 1,1\n"}) {
        auto notNewer = ReadConfiguration(tables, version + body);
        ASSERT_TRUE(notNewer.read);
        EXPECT_TRUE(notNewer.record->ComponentSelected(kLoginSendResponse)) << version;
    }

    // Only the selected trigger adds its pair.
    auto onlySubOfIsAuthorized = ReadConfiguration(tables, "components: IsAuthorized/Send_Response\ndata\n");
    ASSERT_TRUE(onlySubOfIsAuthorized.read);
    EXPECT_EQ((Names{"IsAuthorized/Send_Response"}), Selected(*onlySubOfIsAuthorized.record, tables));
}

TEST(TraceConfigReader, CrLfFilesReadLikeLfFiles)
{
    TraceTables tables;
    const std::string lf =
        "# trace\nversion 1.1\ncomponents: Agent, Server/Send\ndata: Date, User, Realm\n"
        "User == alice \nRealm @@corp\n";
    std::string crlf;
    for (char c : lf) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    auto a = ReadConfiguration(tables, lf);
    auto b = ReadConfiguration(tables, crlf);
    // Also without the final line end, and with a stray carriage return before it.
    auto c = ReadConfiguration(tables, crlf.substr(0, crlf.size() - 2));
    auto d = ReadConfiguration(tables, lf.substr(0, lf.size() - 1) + "\r\r\n");
    for (auto* config : {&a, &b, &c, &d}) {
        ASSERT_TRUE(config->read);
        CKrTraceData& record = *config->record;
        EXPECT_EQ((Names{"Server/Send", "Agent"}), Selected(record, tables));
        EXPECT_EQ((std::vector<int>{4, 9, 12}), Peer::FieldOrder(record));
        EXPECT_STREQ(" alice ", Peer::Field(record, kUser)->filterValue);
        EXPECT_STREQ("corp", Peer::Field(record, kRealm)->filterValue);
    }
}

TEST(TraceConfigReader, FilterLinesKeepTheirValuesUntrimmed)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables,
                                    "components: Agent\ndata: User, Realm, Message\n"
                                    "User ==alice\n"
                                    "Realm  \t!=  corp # not a comment\n"
                                    "Message:@@\n"
                                    "Date !@x\n"
                                    "Tenant =alice\n"
                                    "Policy\n"
                                    "Rule ==\n"
                                    "Group,==g\n"
                                    "Domain: ,==d\n");
    ASSERT_TRUE(config.read);
    CKrTraceData& record = *config.record;
    struct Expected {
        unsigned id;
        int op;
        const char* value;
    };
    const Expected expected[] = {
        {kUser, KR_FILTER_EQUAL, "alice"},
        {kRealm, KR_FILTER_NOT_EQUAL, "  corp # not a comment"},
        {kMessage, KR_FILTER_CONTAINS, ""},
        {4, KR_FILTER_NOT_CONTAINS, "x"},  // a filter does not make the field traced
        {14, KR_FILTER_EQUAL, ""},
        {10, KR_FILTER_EQUAL, "g"},
    };
    for (const Expected& e : expected) {
        const KrTraceDataFieldInfo* field = Peer::Field(record, e.id);
        ASSERT_TRUE(field->filtered) << field->name;
        EXPECT_EQ(e.op, field->filterOp) << field->name;
        EXPECT_STREQ(e.value, field->filterValue) << field->name;
    }
    EXPECT_FALSE(record.FieldTraced(4));
    // A single '=', a bare name, and a second separator before the operator: no filter.
    EXPECT_FALSE(record.FieldFiltered(65));
    EXPECT_FALSE(record.FieldFiltered(13));
    EXPECT_FALSE(record.FieldFiltered(11));
}

// The name ends at a separator: "User==carol" is one token, no field name, and
// the line is skipped; "User =dave" has no known operator.
TEST(TraceConfigReader, LaterFilterLineReplacesEarlierOne)
{
    TraceTables tables;
    auto config =
        ReadConfiguration(tables, "components\ndata: User\nUser ==alice\nUser\t!@bob\nUser==carol\nUser =dave\n");
    ASSERT_TRUE(config.read);
    const KrTraceDataFieldInfo* user = Peer::Field(*config.record, kUser);
    EXPECT_EQ(KR_FILTER_NOT_CONTAINS, user->filterOp);
    EXPECT_STREQ("bob", user->filterValue);
}

TEST(TraceConfigReader, FilterTest)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables,
                                    "components: Agent\ndata: User, Realm, Group, Domain, Message\n"
                                    "User ==alice\nRealm @@corp\nGroup !=admins\nDomain !@test\nMessage ==\n");
    ASSERT_TRUE(config.read);
    CKrTraceData& record = *config.record;
    struct Case {
        unsigned id;
        const char* value;
        bool passes;
    };
    const Case cases[] = {
        {kUser, "alice", true},      {kUser, "bob", false},         {kUser, "Alice", false},
        {kUser, "alice ", false},    {kUser, nullptr, false},       {kRealm, "mycorpnet", true},
        {kRealm, "corp", true},      {kRealm, "cor", false},        {kRealm, nullptr, false},
        {10, "users", true},         {10, "admins", false},         {10, nullptr, true},
        {11, "prod", true},          {11, "a-test-b", false},       {11, nullptr, true},
        {kMessage, nullptr, true},   {kMessage, "", true},          {kMessage, "x", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.passes, record.SetFieldValue(c.id, c.value, true)) << c.id << " " << (c.value ? c.value : "null");
        EXPECT_EQ(c.passes, Peer::TestDataFilter(record, c.id));
        // Without test the setter stores and answers true.
        EXPECT_TRUE(record.SetFieldValue(c.id, c.value, false));
    }
    // An unknown operator code never passes; out-of-range ids neither.
    Peer::Field(record, kUser)->filterOp = 3;
    record.SetFieldValue(kUser, "alice", false);
    EXPECT_FALSE(Peer::TestDataFilter(record, kUser));
    EXPECT_FALSE(Peer::TestDataFilter(record, 67));
}

TEST(TraceConfigReader, LongLinesAndManyFilterLines)
{
    TraceTables tables;
    std::string file = "components: Agent\ndata: User\n";
    file += "User ==" + std::string(100000, 'v') + "\n";
    for (int i = 0; i < 5000; ++i) file += "User @@value" + std::to_string(i) + "\n";
    file += "Realm ==" + std::string(9000, 'r');
    auto config = ReadConfiguration(tables, file);
    ASSERT_TRUE(config.read);
    EXPECT_STREQ("value4999", Peer::Field(*config.record, kUser)->filterValue);
    // The line reader keeps at most 8,091 bytes of a line.
    const char* realm = Peer::Field(*config.record, kRealm)->filterValue;
    ASSERT_NE(nullptr, realm);
    EXPECT_EQ(std::string(8091 - 8, 'r'), realm);
}

TEST(TraceConfigReader, RecordDoesNotDependOnTheLoggersTables)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables, "components: Server/Send\ndata: User\n", 2, ";");
    ASSERT_TRUE(config.read);
    tables.DestroyNames();
    EXPECT_STREQ("Server/Send", Peer::GetComponentInfo(*config.record, kServerSend)->name);
    EXPECT_NE(nullptr, Peer::GetComponentInfo(*config.record, "Server/Send"));
    EXPECT_TRUE(config.record->ComponentSelected(kServerSend));
    EXPECT_STREQ(";", Peer::Delimiter(*config.record));
}

TEST(TraceConfigReader, DateTimeDriverIsTheHighestTracedClockField)
{
    TraceTables tables;
    const std::pair<const char*, int> cases[] = {
        {"data: User\n", 0},
        {"data: Date\n", 4},
        {"data: Time, Date\n", 5},
        {"data: PreciseTime, Date\n", 6},
        {"data: Date, Time, PreciseTime\n", 6},
    };
    for (const auto& [data, expected] : cases) {
        auto config = ReadConfiguration(tables, std::string("components\n") + data);
        ASSERT_TRUE(config.read);
        EXPECT_EQ(expected, Peer::DateTimeField(*config.record)) << data;
    }
}

TEST(TraceConfigReader, InMemoryPreparationThenRead)
{
    TraceTables tables;
    ScratchDir dir;
    WriteFile(dir.File("t.conf"), "components: Agent\ndata: User, Realm\n");
    CKrTraceData record;
    ASSERT_TRUE(Peer::PrepareConfiguration(record, 0, "", tables.ComponentCount(), tables.Components(),
                                           tables.Fields(), true));
    ASSERT_TRUE(Peer::ReadConfigFile(record, dir.File("t.conf").c_str()));
    EXPECT_STREQ("", Peer::Delimiter(record));
    EXPECT_TRUE(record.ComponentSelected(kAgent));
    EXPECT_EQ((std::vector<int>{9, 12}), Peer::FieldOrder(record));
    // The logger's tables are left as they were.
    EXPECT_FALSE(tables.Components()[10].selected);
    EXPECT_FALSE(tables.Fields()[kUser].traced);
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
    EXPECT_TRUE(copy.ComponentSelected(kServer));
    EXPECT_TRUE(copy.ComponentSelected(kAgent));
    EXPECT_STREQ("bob", Peer::Field(copy, 9)->filterValue);
    EXPECT_STREQ(";", Peer::Delimiter(copy));
    // The master, and every other copy of it, still read the first file.
    EXPECT_FALSE(config.record->ComponentSelected(kServer));
    EXPECT_STREQ("alice", Peer::Field(*config.record, 9)->filterValue);
    EXPECT_TRUE(Peer::OwnsConfig(copy));
}
