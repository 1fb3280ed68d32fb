// The file output: open modes, parameters, roll-over by size, backup names and
// pruning, header lines, path limits and the buffered chunk path.
#include "OutputTestSupport.h"

#include <krerrlog/output/KrDirectoryListing.h>

#include <algorithm>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using krtest::g_nowMs;
using krtest::LineCount;
using krtest::OpenFile;
using krtest::ReadFile;
using krtest::ScratchDir;
using krtest::SuffixAt;
using krtest::WriteFile;

namespace {

class FileOutput : public krtest::FixedClockTest {
protected:
    // Logs count lines "<prefix> <i>"; returns the texts written.
    static std::vector<std::string> LogLines(CKrFileOutput& output, const std::string& prefix, int count)
    {
        std::vector<std::string> lines;
        for (int i = 0; i < count; ++i) {
            lines.push_back(prefix + " " + std::to_string(i));
            krtest::LogLine(output, lines.back());
        }
        return lines;
    }

    static void SetHeaders(CKrFileOutput& output)
    {
        CKrErrLogMessage first(false);
        CKrErrLogMessage second(false);
        krtest::SetText(first, "HEADER ONE\n");
        krtest::SetText(second, "HEADER TWO\n");
        output.SetHeaders(first, second);
    }

    // A roll-over that cannot be done fails the opening in a roll-at-open mode,
    // and in mode 3 neither renames nor stops writing the existing file.
    static void ExpectNoRollover(const std::string& name, int rollAtOpenMode, int lines, size_t expectedLines)
    {
        CKrFileOutput atOpen;
        ASSERT_TRUE(atOpen.SetParams(name.c_str(), rollAtOpenMode, 0, 0));
        EXPECT_FALSE(atOpen.Open());
        EXPECT_EQ(atOpen.GetReturnCode(), 1);

        CKrFileOutput rolling;
        OpenFile(rolling, name, 3, 0, 0);
        for (int i = 0; i < lines; ++i) krtest::LogLine(rolling, "x");
        rolling.Close();
        EXPECT_EQ(LineCount(name), expectedLines);
    }

    ScratchDir dir;
};

TEST_F(FileOutput, RefusedParametersChangeNothingAndCreateNothing)
{
    CKrFileOutput output;
    const std::string name = dir.File("error.log");
    struct Params {
        const char* name;
        int mode, limit, backups, ring;
    } refused[] = {{name.c_str(), 5, 1, 1, 0},  {name.c_str(), -1, 1, 1, 0}, {name.c_str(), 3, -1, 1, 0},
                   {name.c_str(), 3, 1, -1, 0}, {nullptr, 3, 1, 1, 0},       {"", 3, 1, 1, 0},
                   {name.c_str(), 7, 1, 1, 16}};
    for (const Params& p : refused) EXPECT_FALSE(output.SetParams(p.name, p.mode, p.limit, p.backups, p.ring));
    EXPECT_STREQ(output.GetFileName(), "");
    EXPECT_FALSE(output.Open()) << "no name was ever accepted";
    EXPECT_EQ(output.GetReturnCode(), 1);

    ASSERT_TRUE(output.SetParams(name.c_str(), 3, 2, 4, 16));
    EXPECT_FALSE(output.SetParams(dir.File("other.log").c_str(), 9, 1, 1));
    EXPECT_EQ(std::string(output.GetFileName()), name);
    EXPECT_EQ(CKrFileOutputTestPeer::Mode(output), 3);
    EXPECT_EQ(CKrFileOutputTestPeer::SizeLimit(output), 2u << 20);
    EXPECT_EQ(CKrFileOutputTestPeer::BackupCount(output), 4);
    EXPECT_EQ(output.GetSizeOfRingBuffer(), 16u);
    EXPECT_TRUE(dir.List().empty());
}

TEST_F(FileOutput, OpenModesTreatAnExistingFileAsStated)
{
    const std::string old = "old line\n";
    for (int mode = 0; mode <= 4; ++mode) {
        SCOPED_TRACE(mode);
        ScratchDir here;
        const std::string name = here.File("app.log");
        WriteFile(name, old);
        {
            CKrFileOutput output;
            OpenFile(output, name, mode, 1, 0);
            krtest::LogLine(output, "new line");
            EXPECT_TRUE(output.Close());
        }
        const std::vector<std::string> entries = here.List();
        if (mode == 1 || mode == 3) {
            EXPECT_EQ(ReadFile(name), old + "new line\n");
            EXPECT_EQ(entries.size(), 1u);
        } else if (mode == 0) {
            EXPECT_EQ(ReadFile(name), "new line\n");
            EXPECT_EQ(entries.size(), 1u);
        } else {
            ASSERT_EQ(entries.size(), 2u);
            EXPECT_EQ(entries[0], "app.log");
            EXPECT_EQ(entries[1], "app" + SuffixAt(g_nowMs) + ".log");
            EXPECT_EQ(ReadFile(here.File(entries[1])), old);
            EXPECT_EQ(ReadFile(name), "new line\n");
        }
    }
}

TEST_F(FileOutput, CreatesMissingFilesOwnerOnlyWhateverTheUmask)
{
    const mode_t previous = umask(0);
    for (int mode = 0; mode <= 4; ++mode) {
        const std::string name = dir.File("m" + std::to_string(mode) + ".log");
        CKrFileOutput output;
        OpenFile(output, name, mode, 0, 0);
        krtest::LogLine(output, "x");
        if (mode == 4) {
            ASSERT_TRUE(CKrFileOutputTestPeer::Rollover(output));
        }
    }
    umask(previous);
    for (const std::string& entry : dir.List()) EXPECT_EQ(krtest::FileMode(dir.File(entry)), 0600) << entry;
    EXPECT_EQ(dir.List().size(), 6u) << "five logs and one backup";
}

TEST_F(FileOutput, RollsOverOnTheThousandthMessageAndStartsWithHeaders)
{
    const std::string name = dir.File("error.log");
    CKrFileOutput output;
    ASSERT_TRUE(output.SetParams(name.c_str(), 3, 1, 5));
    CKrFileOutputTestPeer::SetSizeLimitBytes(output, 2000);
    ASSERT_TRUE(output.Open());
    SetHeaders(output);

    // Far beyond the limit, but the size is looked at only on every thousandth message.
    std::vector<std::string> first = LogLines(output, "first", 999);
    EXPECT_EQ(dir.List().size(), 1u);
    g_nowMs += 1;
    krtest::LogLine(output, "the thousandth");
    const std::string backup = "error" + SuffixAt(g_nowMs) + ".log";
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"error.log", backup}));
    EXPECT_EQ(krtest::SplitLines(ReadFile(dir.File(backup))), first);
    EXPECT_EQ(ReadFile(name), "HEADER ONE\nHEADER TWO\nthe thousandth\n");
}

TEST_F(FileOutput, OnlyModeThreeRollsOverBySizeAndALimitOfZeroRollsAtEveryCheck)
{
    // Backup count 0 keeps every backup: three roll-overs leave four files.
    for (auto [mode, files] : {std::pair{1, 1u}, {2, 1u}, {3, 4u}}) {
        SCOPED_TRACE(mode);
        ScratchDir here;
        CKrFileOutput output;
        OpenFile(output, here.File("z.log"), mode, 0, 0);
        for (int round = 0; round < 3; ++round) {
            g_nowMs += 1000;
            LogLines(output, "r" + std::to_string(round), 1000);
        }
        EXPECT_EQ(here.List().size(), files);
        if (mode == 3) {
            EXPECT_EQ(LineCount(here.File("z.log")), 1u) << "the last thousandth line";
        }
    }
}

TEST_F(FileOutput, PrunesTheOldestBackupsLeavingTheBackupCount)
{
    const std::string name = dir.File("trace.log");
    const std::vector<std::string> existing = {
        "trace_20240101_000000.1.log", "trace_20240101_000000.2.log", "trace_20240102_000000.5.log",
        "trace_20240103_000000.7.log", "trace_20240104_000000_3.log",
    };
    for (const std::string& entry : existing) WriteFile(dir.File(entry), "old\n");
    // Not backups of trace.log: never deleted.
    const std::vector<std::string> strangers = {"trace_20230101_000000.1.txt", "other_20230101_000000.1.log",
                                                "trace_2023010_000000.1.log", "trace.log.bak"};
    for (const std::string& entry : strangers) WriteFile(dir.File(entry), "keep\n");

    WriteFile(name, "current\n");
    CKrFileOutput output;
    OpenFile(output, name, 4, 1, 3);  // mode 4 rolls over at once

    const std::string backup = "trace" + SuffixAt(g_nowMs) + ".log";
    std::vector<std::string> expected = {existing[3], existing[4], backup, "trace.log"};
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
        krtest::LogLine(output, "x");
        ASSERT_TRUE(CKrFileOutputTestPeer::Rollover(output));
    }
    const std::vector<std::string> entries = dir.List();
    ASSERT_EQ(entries.size(), 4u) << "backup count 1, yet nothing was deleted";
    EXPECT_EQ(entries[0], "trace");
    EXPECT_EQ(entries[1], "trace" + SuffixAt(g_nowMs - 2000));
}

TEST_F(FileOutput, RecognisesBackupNames)
{
    CKrFileOutput output;
    struct Case {
        const char* candidate;
        const char* base;
        bool backup;
    } cases[] = {
        {"trace_20250303_140509.42.log", "trace.log", true},
        {"trace_20250303_140509_7.log", "trace.log", true},
        {"trace_2025030_140509.42.log", "trace.log", false},
        {"trace_20250303_140509.42.txt", "trace.log", false},
        {"other_20250303_140509.42.log", "trace.log", false},
        {"trace_20250303_140509", "trace", true},
        {"trace_20250303_140509.42", "trace", false},
        {"trace_20250303_140509_.log", "trace.log", false},
        {"trace_20250303_140509_7x.log", "trace.log", false},
        {"trace_20250303-140509.1.log", "trace.log", false},
        {"trace_20250303_140509.log", "trace.log", true},
        {"trace.log", "trace.log", false},
        {"", "trace.log", false},
        {nullptr, "trace.log", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CKrFileOutputTestPeer::IsBackedUpFile(output, c.candidate, c.base), c.backup)
            << (c.candidate ? c.candidate : "(null)") << " for " << c.base;
    }
}

TEST_F(FileOutput, NameWithoutFolderNeverRollsOver)
{
    ScratchDir here;
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(here.Path().c_str()), 0);
    WriteFile("plain.log", "kept\n");
    ExpectNoRollover("plain.log", 2, 2000, 2001);
    const std::vector<std::string> entries = here.List();
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(entries, std::vector<std::string>{"plain.log"});
}

TEST_F(FileOutput, NamesAtThePathLimitFailTheRolloverCleanly)
{
    // The path up to the extension reaches 255 bytes; then only the backup name does.
    const size_t room = 255 - dir.Path().size() - 1;
    for (size_t stemLength : {room, room - 10}) {
        SCOPED_TRACE(stemLength);
        ScratchDir here;
        const std::string name = here.File(std::string(stemLength - (here.Path().size() - dir.Path().size()), 'n') +
                                           ".log");
        WriteFile(name, "earlier\n");
        ExpectNoRollover(name, 4, 1000, 1001);  // the failed check does not stop writing
        EXPECT_EQ(here.List().size(), 1u);
    }
}

TEST_F(FileOutput, ARolloverThatCannotNameItsBackupDeletesNoOldBackup)
{
    // The backup name of this instant ("_yyyymmdd_hhmmss.42", 19 bytes) reaches
    // 255 bytes; the path up to the extension alone does not.
    const std::string stem(255 - 19 - 4 - dir.Path().size() - 1, 's');
    const std::string name = dir.File(stem + ".log");
    const std::string oldBackup = stem + "_20240101_000000.1.log";
    WriteFile(dir.File(oldBackup), "older lines\n");

    CKrFileOutput output;
    OpenFile(output, name, 3, 0, 1);
    bool result = true;
    for (int i = 0; i < 1000; ++i) result = krtest::LogLine(output, "x");
    output.Close();
    EXPECT_FALSE(result) << "the roll-over failed";
    EXPECT_EQ(dir.List(), (std::vector<std::string>{stem + ".log", oldBackup}));
    EXPECT_EQ(ReadFile(dir.File(oldBackup)), "older lines\n");
    EXPECT_EQ(LineCount(name), 1000u);
}

TEST_F(FileOutput, BufferedChunkRollsOverAfterItsFirstNewline)
{
    const std::string name = dir.File("buffered.log");
    CKrFileOutput output;
    ASSERT_TRUE(output.SetParams(name.c_str(), 3, 1, 0));
    CKrFileOutputTestPeer::SetSizeLimitBytes(output, 40);
    ASSERT_TRUE(output.Open());
    SetHeaders(output);
    const std::string small = "abc 456789 123456789 12345678\n";  // below the limit
    EXPECT_TRUE(output.RollOverCheck_LogMessageBuffered(small.data(), small.size()));
    EXPECT_EQ(dir.List().size(), 1u);
    const std::string chunk = "end of old\nnew one\nnew two\n";
    EXPECT_TRUE(output.RollOverCheck_LogMessageBuffered(chunk.data(), chunk.size()));
    const std::vector<std::string> entries = dir.List();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(ReadFile(dir.File(entries[1])), small + "end of old\n");
    EXPECT_EQ(ReadFile(name), "HEADER ONE\nHEADER TWO\nnew one\nnew two\n");
}

TEST(DirectoryListing, WildcardsMatchAsThePatternSays)
{
    using krerrlog::MatchesWildcard;
    EXPECT_TRUE(MatchesWildcard("trace*.log", "trace_20250303_140509.42.log"));
    EXPECT_TRUE(MatchesWildcard("trace*.log", "trace.log"));
    EXPECT_FALSE(MatchesWildcard("trace*.log", "trace.log.1"));
    EXPECT_TRUE(MatchesWildcard("trace*", "trace"));
    EXPECT_TRUE(MatchesWildcard("a*b*c", "aXXbYYbc"));
    EXPECT_FALSE(MatchesWildcard("a*b*c", "aXXbYYbd"));
    EXPECT_TRUE(MatchesWildcard("?.log", "x.log"));
    EXPECT_FALSE(MatchesWildcard("?.log", ".log"));
    EXPECT_TRUE(MatchesWildcard("[x]*", "[x]1")) << "brackets are plain characters";
    EXPECT_FALSE(MatchesWildcard("", "a"));

    ScratchDir dir;
    for (const char* name : {"t_1.log", "t_2.log", "t.txt", "u_1.log"}) WriteFile(dir.File(name), "");
    std::vector<std::string> found = krerrlog::ListMatchingEntries(dir.Path(), "t*.log");
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"t_1.log", "t_2.log"}));
    EXPECT_TRUE(krerrlog::ListMatchingEntries(dir.File("missing"), "*").empty());
}

}  // namespace
