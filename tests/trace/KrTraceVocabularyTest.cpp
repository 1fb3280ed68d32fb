#include <krerrlog/trace/KrTraceVocabulary.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(TraceVocabulary, StaticTablesAndComponentIdsMatchWhatCallersUse) {
    int count = 0;
    const KNOWNDATAFIELDINFO *fields = nullptr, *fieldsAgain = nullptr;
    ASSERT_TRUE(GetKnownDataFields(&count, &fields));
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
    EXPECT_STREQ("Tag", fields[KR_FIELD_TAG].name);
    EXPECT_STREQ("Function", fields[KR_FIELD_FUNCTION].name);

    const char **libs = nullptr, **libsAgain = nullptr;
    ASSERT_TRUE(GetKnownComponentLibs(&count, &libs));
    ASSERT_EQ(26, count);
    std::string joined;
    for (int i = 0; i < count; ++i) joined += std::string(libs[i]) + " ";
    EXPECT_EQ("krlogcomponent krtestcomponent kragentfunccomponent kragentconmgrcomponent krservercomponent "
              "krisprotectedcomponent krloginlogoutcomponent krisauthorizedcomponent krtunnelcomponent "
              "krjavaapicomponent krdirectorycomponent krodbccomponent krldapcomponent kragentframeworkcomponent "
              "krwebagentcomponent krxmlagentcomponent krsamlagentcomponent krhttpagentcomponent "
              "kraffiliateagentcomponent krvellcomponent krtessercomponent krproxyagentcomponent "
              "krfedclientcomponent krfedservercomponent krportalagentcomponent krquorvcomponent ",
              joined);
    // Callers keep the pointers: both lists are static.
    ASSERT_TRUE(GetKnownComponentLibs(&count, &libsAgain) && GetKnownDataFields(&count, &fieldsAgain));
    EXPECT_EQ(libs, libsAgain);
    EXPECT_EQ(fields, fieldsAgain);
    // Component ids: number in the top byte, sub-component in the next.
    static_assert(KrMakeComponentId(1, 2) == 0x01020000u);
    EXPECT_EQ(258u, KrVerdictIndex(0x01020000u));
    EXPECT_EQ(0x1A000000u, KrMakeComponentId(26));
    EXPECT_EQ(26u, KrComponentNumber(0x1A030000u));
    EXPECT_EQ(3u, KrSubComponentNumber(0x1A030000u));
    EXPECT_EQ(0xFFFFu, KrVerdictIndex(KrMakeComponentId(255, 255)));
    EXPECT_LT(KrVerdictIndex(0xFFFFFFFFu), KR_VERDICT_TABLE_SIZE);
}
