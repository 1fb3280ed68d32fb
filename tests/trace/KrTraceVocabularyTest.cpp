#include <krerrlog/trace/KrTraceVocabulary.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

const KNOWNDATAFIELDINFO* Fields(int& count) {
    const KNOWNDATAFIELDINFO* fields = nullptr;
    EXPECT_TRUE(GetKnownDataFields(&count, &fields));
    return fields;
}

int FindField(const char* name) {
    int count = 0;
    const KNOWNDATAFIELDINFO* fields = Fields(count);
    for (int i = 0; i < count; ++i)
        if (std::strcmp(fields[i].name, name) == 0) return i;
    return -1;
}

}  // namespace

TEST(TraceVocabulary, DataFieldTableMatchesTheIdsCallersUse) {
    int count = 0;
    const KNOWNDATAFIELDINFO* fields = Fields(count);
    ASSERT_EQ(67, count);
    ASSERT_NE(nullptr, fields);

    // Every row: ids are positions, so a shifted row breaks every caller.
    static const struct { int id; const char* name; int width; } expected[] = {
        {0, "Message", 64},           {1, "SrcFile", 32},        {2, "Pid", 8},
        {3, "Tid", 8},                {4, "Date", 16},           {5, "Time", 8},
        {6, "PreciseTime", 16},       {7, "Function", 32},       {8, "ReturnValue", 32},
        {9, "User", 32},              {10, "Group", 32},         {11, "Domain", 64},
        {12, "Realm", 64},            {13, "Policy", 64},        {14, "Rule", 64},
        {15, "Directory", 64},        {16, "AgentName", 64},     {17, "AgentType", 64},
        {18, "TransactionID", 64},    {19, "ObjectClass", 64},   {20, "DomainOID", 64},
        {21, "SearchKey", 64},        {22, "ErrorString", 64},   {23, "ErrorValue", 64},
        {24, "ObjectOID", 64},        {25, "Property", 64},      {26, "IPAddr", 32},
        {27, "IPPort", 16},           {28, "AuthStatus", 32},    {29, "AuthReason", 32},
        {30, "AuthScheme", 32},       {31, "CertSerial", 32},    {32, "SubjectDN", 64},
        {33, "IssuerDN", 64},         {34, "SessionSpec", 64},   {35, "SessionID", 16},
        {36, "CertDistPt", 64},       {37, "UserDN", 64},        {38, "Resource", 64},
        {39, "Action", 64},           {40, "RealmOID", 64},      {41, "State", 8},
        {42, "ClusterID", 16},        {43, "HandleCount", 16},   {44, "FreeHandleCount", 16},
        {45, "BusyHandleCount", 16},  {46, "ResponseTime", 32},  {47, "Throughput", 32},
        {48, "MaxThroughput", 32},    {49, "MinThroughput", 32}, {50, "Threshold", 32},
        {51, "TransactionName", 32},  {52, "Data", 64},          {53, "HexadecimalData", 128},
        {54, "Query", 64},            {55, "ActiveExpr", 64},    {56, "CallDetail", 64},
        {57, "RequestIPAddr", 32},    {58, "Returns", 8},        {59, "Expression", 32},
        {60, "Result", 16},           {61, "CacheHits", 5},      {62, "CacheSize", 5},
        {63, "RefCount", 5},          {64, "ExecutionTime", 24}, {65, "Tenant", 64},
        {66, "Tag", 16},
    };
    ASSERT_EQ(67u, sizeof expected / sizeof expected[0]);
    std::set<std::string> names;
    int widest = 0;
    for (const auto& row : expected) {
        EXPECT_STREQ(row.name, fields[row.id].name) << "id " << row.id;
        EXPECT_EQ(row.width, fields[row.id].width) << "id " << row.id;
        names.insert(fields[row.id].name);
        if (fields[row.id].width > fields[widest].width) widest = row.id;
    }
    EXPECT_EQ(67u, names.size()) << "field names must be unique";
    EXPECT_EQ(53, widest);
    EXPECT_EQ(KR_FIELD_MESSAGE, 0u);
    EXPECT_STREQ("Tag", fields[KR_FIELD_TAG].name);
    EXPECT_STREQ("Function", fields[KR_FIELD_FUNCTION].name);
}

TEST(TraceVocabulary, FieldNamesAreCaseSensitive) {
    EXPECT_EQ(9, FindField("User"));
    EXPECT_EQ(-1, FindField("user"));
    EXPECT_EQ(-1, FindField("USER"));
    EXPECT_EQ(18, FindField("TransactionID"));
    EXPECT_EQ(-1, FindField("TransactionId"));
}

TEST(TraceVocabulary, ComponentLibraryListIsStaticAndOrdered) {
    int count = 0;
    const char** names = nullptr;
    ASSERT_TRUE(GetKnownComponentLibs(&count, &names));
    ASSERT_EQ(26, count);
    static const char* const expected[] = {
        "krlogcomponent",          "krtestcomponent",           "kragentfunccomponent",
        "kragentconmgrcomponent",  "krservercomponent",         "krisprotectedcomponent",
        "krloginlogoutcomponent",  "krisauthorizedcomponent",   "krtunnelcomponent",
        "krjavaapicomponent",      "krdirectorycomponent",      "krodbccomponent",
        "krldapcomponent",         "kragentframeworkcomponent", "krwebagentcomponent",
        "krxmlagentcomponent",     "krsamlagentcomponent",      "krhttpagentcomponent",
        "kraffiliateagentcomponent", "krvellcomponent",         "krtessercomponent",
        "krproxyagentcomponent",   "krfedclientcomponent",      "krfedservercomponent",
        "krportalagentcomponent",  "krquorvcomponent",
    };
    for (int i = 0; i < 26; ++i) EXPECT_STREQ(expected[i], names[i]) << "index " << i;

    int count2 = 0;
    const char** names2 = nullptr;
    ASSERT_TRUE(GetKnownComponentLibs(&count2, &names2));
    EXPECT_EQ(names, names2);
    int fieldCount = 0, fieldCount2 = 0;
    const KNOWNDATAFIELDINFO *f1 = nullptr, *f2 = nullptr;
    GetKnownDataFields(&fieldCount, &f1);
    GetKnownDataFields(&fieldCount2, &f2);
    EXPECT_EQ(f1, f2);
}

TEST(TraceVocabulary, ComponentIdScheme) {
    static_assert(KrMakeComponentId(1, 2) == 0x01020000u);
    static_assert(KrVerdictIndex(KrMakeComponentId(1, 2)) == 0x0102u);
    EXPECT_EQ(258u, KrVerdictIndex(0x01020000u));
    EXPECT_EQ(0x1A000000u, KrMakeComponentId(26));
    EXPECT_EQ(26u, KrComponentNumber(0x1A030000u));
    EXPECT_EQ(3u, KrSubComponentNumber(0x1A030000u));
    EXPECT_EQ(0xFFFFu, KrVerdictIndex(KrMakeComponentId(255, 255)));
    EXPECT_LT(KrVerdictIndex(0xFFFFFFFFu), KR_VERDICT_TABLE_SIZE);
}

TEST(TraceVocabulary, FreshEntriesStartCleared) {
    KrTraceDataFieldInfo field;
    EXPECT_FALSE(field.traced);
    EXPECT_FALSE(field.filtered);
    EXPECT_EQ(nullptr, field.value);
    EXPECT_EQ(nullptr, field.filterValue);
    EXPECT_EQ('\0', field.text[0]);
    EXPECT_EQ(40u, sizeof field.text);
    KrTraceComponentInfo component;
    EXPECT_FALSE(component.selected);
    EXPECT_EQ(0u, component.id);
    EXPECT_EQ(nullptr, component.name);
}
