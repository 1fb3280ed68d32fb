// The reader's diagnostics, as the operators' checker shows them: where and
// why a file is refused, each word ignored and each line skipped, and what a
// file that is read selects.
#include <krerrlog/trace/internal/KrTraceConfigCheck.h>
#include <krerrlog/trace/KrTraceVocabulary.h>

#include "testsupport/LoggerTestPeer.h"
#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using krerrlog::TraceConfigCheck;
using krerrlog::TraceConfigSeverity;

namespace {

// "E3 text" for an error on line 3, "W5 text" for a warning on line 5.
class Collected : public krerrlog::TraceConfigDiagnostics {
public:
    void Report(TraceConfigSeverity severity, int line, const std::string& text) override
    {
        lines.push_back((severity == TraceConfigSeverity::Error ? "E" : "W") + std::to_string(line) + " " + text);
    }
    std::vector<std::string> lines;
};

class TraceConfigDiagnostics : public ::testing::Test {
protected:
    // The file read with the vocabulary of a logger of our own (the built-in
    // component "Log" and its sub-component "Log/Legacy" among it).
    bool Read(const std::string& content, Collected& collected, krerrlog::TraceConfigSelection& selection)
    {
        const std::string path = dir.File("trace.conf");
        krtest::WriteFile(path, content);
        return TraceConfigCheck::Read(*logger, path.c_str(), collected, selection);
    }
    krtest::ScratchDir dir;
    std::unique_ptr<CKrLogger> logger{CKrLoggerTestPeer::Create()};
};

using Lines = std::vector<std::string>;

TEST_F(TraceConfigDiagnostics, RefusedFilesNameTheLineAndWhy)
{
    struct Row {
        const char* content;
        Lines expected;
    };
    const Row rows[] = {
        {"data: User\n", {"E1 a data line where the components line belongs"}},
        {"# comment\n\nversion 1.1\ncomponents: Log\nUser ==alice\ndata: User\n",
         {"E5 a filter line (\"User\") where the data line belongs"}},
        {"components: Log\ncomponents: Log\n", {"E2 a second components line where the data line belongs"}},
        {"User ==alice\n", {"E1 a filter line (\"User\") where the components line belongs"}},
        {"components: Nope\nstuff\n", {"W1 unknown component \"Nope\" ignored", "E2 \"stuff\" where the data line belongs"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.content);
        Collected collected;
        krerrlog::TraceConfigSelection selection;
        EXPECT_FALSE(Read(row.content, collected, selection));
        EXPECT_EQ(collected.lines, row.expected);
    }
}

TEST_F(TraceConfigDiagnostics, IgnoredWordsAndSkippedLinesAreWarnings)
{
    Collected collected;
    krerrlog::TraceConfigSelection selection;
    ASSERT_TRUE(Read("components: Log/Legacy, Nope\n"
                     "data: User, Realm, User, Bogus\n"
                     "User ==a\n"
                     "User !=b\n"
                     "Message @@c\n"
                     "User\n"
                     "User =x\n"
                     "User==y\n"
                     "Username==x\n"
                     "data: Message\n"
                     "Date ==2026\n"
                     "Realm:  !@ corp # not a comment\n",
                     collected, selection));
    EXPECT_EQ(collected.lines, (Lines{
                                   "W1 unknown component \"Nope\" ignored",
                                   "W2 data field \"User\" named again: the first mention counts",
                                   "W2 unknown data field \"Bogus\" ignored",
                                   "W4 filter on \"User\" replaces the one on line 3",
                                   "W5 filter on \"Message\" never acts: the data line does not trace the field",
                                   "W6 filter line for \"User\" has no operator: line skipped",
                                   "W7 filter line for \"User\": \"=x\" is not an operator (==, !=, @@, !@): line skipped",
                                   "W8 filter on \"User\" replaces the one on line 4",
                                   "W9 \"Username==x\" does not start with a data field followed by an operator: "
                                   "line skipped",
                                   "W10 a second data line: line skipped",
                               }));
    EXPECT_EQ(selection.components, (Lines{"Log/Legacy"}));
    EXPECT_EQ(selection.fields, (Lines{"User", "Realm"}));
    ASSERT_EQ(selection.filters.size(), 4u);
    const std::pair<std::string, std::string> filters[] = {
        {"Message", "@@c"}, {"Date", "==2026"}, {"User", "==y"}, {"Realm", "!@ corp # not a comment"}};
    for (size_t i = 0; i < selection.filters.size(); ++i) {
        const krerrlog::TraceConfigFilter& filter = selection.filters[i];
        EXPECT_EQ(filter.field, filters[i].first);
        EXPECT_EQ(filter.op + filter.value, filters[i].second);
    }
}

TEST_F(TraceConfigDiagnostics, CleanFilesAndUnreadableFiles)
{
    Collected collected;
    krerrlog::TraceConfigSelection selection;
    // A CRLF file with a component, which selects its sub-components too.
    EXPECT_TRUE(Read("components: Log\r\ndata: Time, User\r\nUser ==a b\r\n", collected, selection));
    EXPECT_TRUE(collected.lines.empty());
    EXPECT_EQ(selection.components, (Lines{"Log", "Log/Legacy"}));
    EXPECT_EQ(selection.fields, (Lines{"Time", "User"}));
    ASSERT_EQ(selection.filters.size(), 1u);
    EXPECT_EQ(selection.filters[0].value, "a b");

    Collected missing;
    EXPECT_FALSE(TraceConfigCheck::Read(*logger, dir.File("absent.conf").c_str(), missing, selection));
    EXPECT_EQ(missing.lines, (Lines{"E0 cannot open the file"}));
    EXPECT_TRUE(selection.components.empty() && selection.fields.empty());

    const Lines fields = TraceConfigCheck::KnownFields(*logger);
    ASSERT_EQ(fields.size(), static_cast<size_t>(KR_KNOWN_DATA_FIELD_COUNT));
    EXPECT_EQ(fields[KR_FIELD_DATE], "Date");
    const Lines components = TraceConfigCheck::KnownComponents(*logger);
    ASSERT_GE(components.size(), 2u);
    EXPECT_EQ(components[0], "Log");
    EXPECT_EQ(components[1], "Log/Legacy");
}

}  // namespace
