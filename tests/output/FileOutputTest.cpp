// The file output: open modes, parameters, roll-over by size, backup names and
// pruning, header lines, path limits and the buffered chunk path.
#include "OutputTestSupport.h"

#include <krerrlog/output/internal/KrDirectoryListing.h>

#include <algorithm>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace krtest;
using Peer = CKrFileOutputTestPeer;

namespace {

class FileOutput : public FixedClockTest {
protected:
    ScratchDir dir;
};

TEST_F(FileOutput, RefusedParametersChangeNothingAndCreateNothing)
{
    CKrFileOutput output;
    const std::string name = dir.File("error.log");
    struct Params {
        const char* name;
        int mode, limit, backups, ring;
    } refused[] = {{name.c_str(), 5, 1, 1, 0}, {name.c_str(), -1, 1, 1, 0}, {name.c_str(), 3, -1, 1, 0},
                   {name.c_str(), 3, 1, -1, 0}, {nullptr, 3, 1, 1, 0},      {"", 3, 1, 1, 0},
                   {name.c_str(), 7, 1, 1, 16}};
    for (const Params& p : refused) EXPECT_FALSE(output.SetParams(p.name, p.mode, p.limit, p.backups, p.ring));
    EXPECT_STREQ(output.GetFileName(), "");
    EXPECT_FALSE(output.Open()) << "no name was ever accepted";
    EXPECT_EQ(output.GetReturnCode(), 1);

    ASSERT_TRUE(output.SetParams(name.c_str(), 3, 2, 4, 16));
    EXPECT_FALSE(output.SetParams(dir.File("other.log").c_str(), 9, 1, 1));
    EXPECT_EQ(output.GetFileName(), name);
    EXPECT_EQ(std::make_tuple(Peer::Mode(output), Peer::SizeLimit(output), Peer::BackupCount(output)),
              std::make_tuple(3, 2u << 20, 4));
    EXPECT_EQ(output.GetSizeOfRingBuffer(), 16u);
    EXPECT_TRUE(dir.List().empty());
}

TEST_F(FileOutput, OpenModesTreatAnExistingFileAsStatedAndCreateFilesOwnerOnly)
{
    const mode_t previous = umask(0);
    for (int mode = 0; mode <= 4; ++mode) {
        SCOPED_TRACE(mode);
        ScratchDir here;
        const std::string name = here.File("app.log");
        WriteFile(name, "old line\n");
        {
            CKrFileOutput output, fresh;
            OpenFile(output, name, mode, 1, 0);
            LogLine(output, "new line");
            EXPECT_TRUE(output.Close());
            OpenFile(fresh, here.File("new.log"), mode, 1, 0);
        }
        EXPECT_EQ(FileMode(here.File("new.log")), 0600);
        const bool appends = mode == 1 || mode == 3, rollsAtOpen = mode == 2 || mode == 4;
        EXPECT_EQ(ReadFile(name), appends ? "old line\nnew line\n" : "new line\n");
        if (rollsAtOpen) {
            const std::string backup = "app" + SuffixAt(g_nowMs) + ".log";
            EXPECT_EQ(here.List(), (Names{"app.log", backup, "new.log"}));
            EXPECT_EQ(ReadFile(here.File(backup)), "old line\n");
            EXPECT_EQ(FileMode(name), 0600) << "made by the roll-over";
        } else {
            EXPECT_EQ(here.List().size(), 2u);
        }
    }
    umask(previous);
}

TEST_F(FileOutput, RollsOverBySizeOnlyInRollingModesOnTheThousandthMessageAndStartsWithHeaders)
{
    for (int mode = 0; mode <= 4; ++mode) {
        SCOPED_TRACE(mode);
        ScratchDir here;
        const std::string name = here.File("error.log");
        CKrFileOutput output;
        ASSERT_TRUE(output.SetParams(name.c_str(), mode, 1, 5));
        Peer::SetSizeLimitBytes(output, 2000);
        ASSERT_TRUE(output.Open());
        SetHeaders(output, "HEADER ONE", "HEADER TWO");
        // Far beyond the limit, but the size is looked at only on every thousandth message.
        Names lines;
        for (int i = 0; i < 999; ++i) LogLine(output, lines.emplace_back("first " + std::to_string(i)));
        EXPECT_EQ(here.List().size(), 1u);
        g_nowMs += 1;
        LogLine(output, lines.emplace_back("the thousandth"));
        if (mode < 3) {
            EXPECT_EQ(SplitLines(ReadFile(name)), lines);
            continue;
        }
        const std::string backup = "error" + SuffixAt(g_nowMs) + ".log";
        EXPECT_EQ(here.List(), (Names{"error.log", backup}));
        lines.pop_back();
        EXPECT_EQ(SplitLines(ReadFile(here.File(backup))), lines);
        EXPECT_EQ(ReadFile(name), "HEADER ONE\nHEADER TWO\nthe thousandth\n");
    }
}

TEST_F(FileOutput, PrunesTheOldestBackupsLeavingTheBackupCount)
{
    const Names existing = {"trace_20240101_000000.1.log", "trace_20240101_000000.2.log",
                            "trace_20240102_000000.5.log", "trace_20240103_000000.7.log",
                            "trace_20240104_000000_3.log"};
    // Not backups of trace.log: never deleted.
    const Names strangers = {"trace_20230101_000000.1.txt", "other_20230101_000000.1.log",
                             "trace_2023010_000000.1.log", "trace.log.bak"};
    for (const std::string& entry : existing) WriteFile(dir.File(entry), "old\n");
    for (const std::string& entry : strangers) WriteFile(dir.File(entry), "keep\n");
    WriteFile(dir.File("trace.log"), "current\n");
    CKrFileOutput output;
    OpenFile(output, dir.File("trace.log"), 4, 1, 3);  // mode 4 rolls over at once

    const std::string backup = "trace" + SuffixAt(g_nowMs) + ".log";
    Names expected = {existing[3], existing[4], backup, "trace.log"};
    expected.insert(expected.end(), strangers.begin(), strangers.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.List(), expected);
    EXPECT_EQ(ReadFile(dir.File(backup)), "current\n");
}

TEST_F(FileOutput, BackupsOfANameWithoutExtensionAreNeverCounted)
{
    CKrFileOutput output;
    OpenFile(output, dir.File("trace"), 3, 0, 1);
    for (int i = 0; i < 3; ++i) {
        g_nowMs += 1000;
        LogLine(output, "x");
        ASSERT_TRUE(Peer::Rollover(output));
    }
    const Names entries = dir.List();
    ASSERT_EQ(entries.size(), 4u) << "backup count 1, yet nothing was deleted";
    EXPECT_EQ(entries[0], "trace");
    EXPECT_EQ(entries[1], "trace" + SuffixAt(g_nowMs - 2000));
}

TEST_F(FileOutput, RecognisesBackupNames)
{
    CKrFileOutput output;
    const struct {
        const char *candidate, *base;
        bool backup;
    } cases[] = {  // more forms are judged by the pruning test
        {"trace_20250303_140509.log", "trace.log", true}, {"trace_20250303_140509", "trace", true},
        {"trace_20250303_140509.42", "trace", false},     {"trace_20250303_140509_.log", "trace.log", false},
        {"trace_20250303_140509_7x.log", "trace.log", false}, {"trace_20250303-140509.1.log", "trace.log", false},
        {"trace.log", "trace.log", false}, {"", "trace.log", false}, {nullptr, "trace.log", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Peer::IsBackedUpFile(output, c.candidate, c.base), c.backup)
            << (c.candidate ? c.candidate : "(null)") << " for " << c.base;
    }
}

TEST_F(FileOutput, RolloverThatCannotBeDoneDeletesNothingAndKeepsWriting)
{
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        ScratchDir here;
        ASSERT_EQ(chdir(here.Path().c_str()), 0);
        // Row 0: a name without folder: it never rolls over. Row 1: the path
        // up to the extension reaches 255 bytes. Row 2: only the backup name of
        // this instant ("_yyyymmdd_hhmmss.42", 19 bytes) does. Rows 1 and 2
        // could never be backed up: a rolling output refuses them at once,
        // while appending to them (mode 1) is fine.
        const size_t room = 255 - here.Path().size() - 1;
        const std::string stem = row == 0 ? "plain" : std::string(row == 1 ? room : room - 23, 's');
        const std::string name = row == 0 ? "plain.log" : here.File(stem + ".log");
        WriteFile(here.File(stem + ".log"), "earlier\n");
        if (row == 2) WriteFile(here.File(stem + "_20240101_000000.1.log"), "older lines\n");
        const Names before = here.List();

        CKrFileOutput atOpen, rolling, appending;
        if (row == 0) {
            ASSERT_TRUE(atOpen.SetParams(name.c_str(), 2, 0, 0));
            EXPECT_FALSE(atOpen.Open());
            EXPECT_EQ(atOpen.GetReturnCode(), 1);
            OpenFile(rolling, name, 3, 0, 1);
            bool result = true;
            for (int i = 0; i < 1000; ++i) result = LogLine(rolling, "x");
            rolling.Close();
            EXPECT_FALSE(result) << "the roll-over failed";
            EXPECT_EQ(LineCount(name), 1001u) << "the failed check does not stop writing";
        } else {
            for (int mode : {2, 3, 4}) EXPECT_FALSE(rolling.SetParams(name.c_str(), mode, 0, 1)) << mode;
            OpenFile(appending, name, 1, 0, 0);
            LogLine(appending, "x");
            appending.Close();
            EXPECT_EQ(LineCount(name), 2u);
        }
        EXPECT_EQ(here.List(), before);
        if (row == 2) {
            EXPECT_EQ(ReadFile(here.File(before[1])), "older lines\n");
        }
        ASSERT_EQ(chdir(previous), 0);
    }
}

TEST_F(FileOutput, BufferedChunkRollsOverAfterItsFirstNewline)
{
    const std::string name = dir.File("buffered.log");
    CKrFileOutput output;
    ASSERT_TRUE(output.SetParams(name.c_str(), 3, 1, 0));
    Peer::SetSizeLimitBytes(output, 40);
    ASSERT_TRUE(output.Open());
    SetHeaders(output, "HEADER ONE", "HEADER TWO");
    const std::string small = "abc 456789 123456789 12345678\n";  // below the limit
    EXPECT_TRUE(output.RollOverCheck_LogMessageBuffered(small.data(), small.size()));
    EXPECT_EQ(dir.List().size(), 1u);
    const std::string chunk = "end of old\nnew one\nnew two\n";
    EXPECT_TRUE(output.RollOverCheck_LogMessageBuffered(chunk.data(), chunk.size()));
    const Names entries = dir.List();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(ReadFile(dir.File(entries[1])), small + "end of old\n");
    EXPECT_EQ(ReadFile(name), "HEADER ONE\nHEADER TWO\nnew one\nnew two\n");
}

TEST(DirectoryListing, WildcardsMatchAsThePatternSays)
{
    const struct {
        const char *pattern, *name;
        bool matches;
    } cases[] = {{"trace*.log", "trace.log", true}, {"trace*.log", "trace.log.1", false},
                 {"a*b*c", "aXXbYYbc", true},       {"a*b*c", "aXXbYYbd", false},
                 {"[x]*", "[x]1", true}};  // brackets are plain characters
    for (const auto& c : cases) EXPECT_EQ(krerrlog::MatchesWildcard(c.pattern, c.name), c.matches) << c.pattern;
    // Listing real folders is judged by the pruning test.
    EXPECT_TRUE(krerrlog::ListMatchingEntries("/no/such/folder", "*").empty());
}

}  // namespace
