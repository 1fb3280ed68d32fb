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

    // Ids are positions: a shifted row breaks every caller. Rows at both ends
    // and around the middle pin the order down.
    static const struct { int id; const char* name; int width; } spots[] = {
        {0, "Message", 64},  {2, "Pid", 8},         {6, "PreciseTime", 16},       {9, "User", 32},
        {18, "TransactionID", 64}, {35, "SessionID", 16}, {53, "HexadecimalData", 128}, {61, "CacheHits", 5},
        {64, "ExecutionTime", 24}, {66, "Tag", 16},
    };
    for (const auto& row : spots) {
        EXPECT_STREQ(row.name, fields[row.id].name) << "id " << row.id;
        EXPECT_EQ(row.width, fields[row.id].width) << "id " << row.id;
    }
    std::set<std::string> names;
    for (int i = 0; i < count; ++i) names.insert(fields[i].name);
    EXPECT_EQ(67u, names.size()) << "field names must be unique";
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
