// The file output under failures of the file layer: refused, colliding and
// failing renames, undeletable backups, a new file that cannot be opened, a
// failing write. No line already written may be lost, truncated or written to
// a descriptor the output no longer owns.
#include "OutputTestSupport.h"

#include <krerrlog/support/internal/KrFileOps.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using krerrlog::FileOp;
using krerrlog::InjectFileFault;
using namespace krtest;
using Peer = CKrFileOutputTestPeer;

namespace {

class FileOutputFaults : public FixedClockTest {
protected:
    void TearDown() override
    {
        krerrlog::ClearFileFaults();
        FixedClockTest::TearDown();
    }

    void Open(int mode, int limitMb, int backups) { OpenFile(output, name, mode, limitMb, backups); }

    // Logs count lines "line <n>" numbered on from the last; returns each Log result.
    std::vector<bool> LogNumbered(int count)
    {
        std::vector<bool> results;
        for (int i = 0; i < count; ++i) results.push_back(LogLine(output, "line " + std::to_string(next++)));
        return results;
    }

    // Every line numbered from "from" to the last stands once in the folder,
    // but those from lostFrom to lostTo, which stand nowhere.
    void ExpectEachLineOnce(int from, int lostFrom = 0, int lostTo = -1) const
    {
        std::map<std::string, int> seen = dir.LineCounts();
        for (int i = from; i < next; ++i) {
            EXPECT_EQ(seen["line " + std::to_string(i)], i >= lostFrom && i <= lostTo ? 0 : 1) << "line " << i;
        }
    }

    // The folder holds error.log and one backup of the given number of lines.
    void ExpectOneBackupOf(size_t lines) const
    {
        const Names entries = dir.List();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0], "error.log");
        EXPECT_EQ(LineCount(dir.File(entries[1])), lines);
    }

    ScratchDir dir;
    std::string name = dir.File("error.log");
    CKrFileOutput output;
    int next = 0;
};

TEST_F(FileOutputFaults, RenameRefusedWithAccessDeniedAppendsAndRetriesAfterTheInterval)
{
    WriteFile(name, "line -1\n");
    ASSERT_TRUE(output.SetParams(name.c_str(), 2, 1, 0));  // roll at open, never by size
    InjectFileFault(FileOp::Rename, EACCES, 1);
    ASSERT_TRUE(output.Open()) << "the file is taken as it is";
    g_nowMs += 300 * 1000;  // not more than 300 seconds yet: no roll-over at the thousandth
    LogNumbered(1000);
    g_nowMs += 1000;
    EXPECT_TRUE(LogNumbered(1000).back()) << "the retried roll-over succeeded";
    output.Close();
    ExpectOneBackupOf(2000);
    ExpectEachLineOnce(-1);
}

TEST_F(FileOutputFaults, TwoRolloversInOneMillisecondNeverReplaceABackup)
{
    Open(3, 0, 0);
    std::vector<bool> results = LogNumbered(3000);  // three roll-overs due, all at the same instant
    EXPECT_TRUE(results[999] && results[2999]);
    EXPECT_TRUE(results[1999]) << "the colliding backup is the newest: the log is appended to";
    ExpectOneBackupOf(999);
    output.Close();
    ExpectEachLineOnce(0);
}

// A rename failing otherwise (an existing target that is no backup of ours, a
// cross-device move) leaves the output closed until the next check opens the
// log again; nothing written before is lost, and the lines lost meanwhile are counted.
class OtherRenameFailures : public FileOutputFaults, public ::testing::WithParamInterface<int> {};

TEST_P(OtherRenameFailures, LeaveTheOutputClosedUntilTheNextCheck)
{
    Open(3, 0, 0);
    InjectFileFault(FileOp::Rename, GetParam(), 1);
    std::vector<bool> results = LogNumbered(1500);
    EXPECT_FALSE(results[999]);
    EXPECT_EQ(Peer::Descriptor(output), -1);
    EXPECT_FALSE(output.LogMessage("x\n", 2));
    results = LogNumbered(510);  // the check at line 1999 opens it again (and rolls it over)
    EXPECT_TRUE(results[499]);
    EXPECT_GE(Peer::Descriptor(output), 0);
    output.Close();
    EXPECT_EQ(output.GetLostLineCount(), 1001u) << "lines 999 to 1998 and the direct one";
    ExpectEachLineOnce(0, 999, 1998);
}

INSTANTIATE_TEST_SUITE_P(FileOutputFaults, OtherRenameFailures, ::testing::Values(EEXIST, EXDEV));

// Rows: a folder with the oldest backup's name (never a backup of ours); an
// undeletable oldest backup with a younger one to delete instead; an
// undeletable backup and nothing else to delete: the log still rolls over.
TEST_F(FileOutputFaults, BackupsThatCannotBeDeletedAreSkipped)
{
    const std::string oldest = "error_20240101_000000.1.log", younger = "error_20240102_000000.1.log";
    const std::string backup = "error" + SuffixAt(g_nowMs) + ".log";
    struct Row {
        bool folder;
        bool younger;
        int count;
        bool result;
        Names after;
    };
    for (const Row& row : {Row{true, true, 1, true, {"error.log", oldest, backup}},
                           Row{false, true, 2, true, {"error.log", oldest, backup}},
                           Row{false, false, 1, false, {"error.log", oldest, backup}}}) {
        SCOPED_TRACE(row.folder * 100 + row.younger * 10 + row.count);
        ScratchDir folder;
        const std::string log = folder.File("error.log");
        if (row.folder) {
            ASSERT_EQ(mkdir(folder.File(oldest).c_str(), 0700), 0);
        } else {
            WriteFile(folder.File(oldest), "old\n");
            InjectFileFault(FileOp::Unlink, EPERM, 1, oldest.c_str());
        }
        if (row.younger) WriteFile(folder.File(younger), "younger\n");
        CKrFileOutput rolling;
        OpenFile(rolling, log, 3, 0, row.count);
        bool result = true;
        for (int i = 0; i < 1000; ++i) result = LogLine(rolling, "x");
        rolling.Close();
        krerrlog::ClearFileFaults();
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(folder.List(), row.after);
        EXPECT_EQ(LineCount(log), 1u) << "the log was rolled over";
        if (row.folder) rmdir(folder.File(oldest).c_str());
    }
}

TEST_F(FileOutputFaults, NewFileThatCannotBeOpenedNeverWritesToAReusedDescriptor)
{
    Open(3, 0, 0);
    const int oldDescriptor = Peer::Descriptor(output);
    InjectFileFault(FileOp::Open, ENOSPC, 1, "error.log");
    EXPECT_FALSE(LogNumbered(1000).back());
    EXPECT_EQ(Peer::Descriptor(output), -1);

    // Another file now gets the number the output used to write to.
    const std::string bystander = dir.File("bystander.txt");
    const int reused = open(bystander.c_str(), O_WRONLY | O_CREAT, 0600);
    EXPECT_EQ(reused, oldDescriptor);
    LogNumbered(500);
    close(reused);
    EXPECT_EQ(ReadFile(bystander), "");

    // The backup holds every line written before the failure.
    const std::string backup = "error" + SuffixAt(g_nowMs) + ".log";
    EXPECT_EQ(dir.List(), (Names{"bystander.txt", backup}));
    EXPECT_EQ(LineCount(dir.File(backup)), 999u);
    ASSERT_TRUE(output.Open());
    LogNumbered(3);
    output.Close();
    EXPECT_EQ(SplitLines(ReadFile(name)), (Names{"line 1500", "line 1501", "line 1502"}));
}

TEST_F(FileOutputFaults, FailingWriteLosesOnlyItsOwnMessage)
{
    Open(1, 1, 0);
    LogNumbered(5);
    InjectFileFault(FileOp::Write, EIO, 2);
    EXPECT_TRUE(LogLine(output, "lost")) << "a failed write is not reported by Log";
    EXPECT_FALSE(output.LogMessage("direct\n", 7)) << "but LogMessage reports its own write";
    EXPECT_TRUE(output.LogMessage("direct\n", 7));
    LogNumbered(5);
    output.Close();
    EXPECT_EQ(SplitLines(ReadFile(name)), (Names{"line 0", "line 1", "line 2", "line 3", "line 4", "direct",
                                                  "line 5", "line 6", "line 7", "line 8", "line 9"}));
}

// A write cut short (full disk, file size limit) must not leave the start of
// a line for the next line to be glued to: the file is cut back to its last
// whole line. Mode 0 writes without append mode, at the descriptor's offset.
TEST_F(FileOutputFaults, ShortWriteLeavesNoFragmentForTheNextLine)
{
    for (int mode : {0, 1, 3}) {
        SCOPED_TRACE(mode);
        unlink(name.c_str());
        CKrFileOutput one;
        OpenFile(one, name, mode, 1, 0);
        for (int i = 0; i < 3; ++i) LogLine(one, "line " + std::to_string(i));
        InjectFileFault(FileOp::ShortWrite, ENOSPC, 1);
        EXPECT_FALSE(one.LogMessage("cut short\n", 10));
        for (int i = 3; i < 5; ++i) LogLine(one, "line " + std::to_string(i));
        one.Close();
        EXPECT_EQ(ReadFile(name), "line 0\nline 1\nline 2\nline 3\nline 4\n");
        EXPECT_EQ(one.GetLostLineCount(), 1u);
    }
}

// The first line of an output never joins a line left unfinished by a writer
// killed in the middle of it; a file that ends whole is left as it is.
TEST_F(FileOutputFaults, LineLeftUnfinishedInTheFileIsEndedBeforeTheFirstLine)
{
    struct Row {
        int mode;
        std::string before, after;
    };
    for (const Row& row : {Row{1, "line -1\nhalf a li", "line -1\nhalf a li\nline 0\n"},
                           Row{3, "half", "half\nline 0\n"},
                           Row{1, "line -1\n", "line -1\nline 0\n"}, Row{1, "", "line 0\n"}}) {
        SCOPED_TRACE(row.before);
        WriteFile(name, row.before);
        CKrFileOutput one;
        OpenFile(one, name, row.mode, 1, 0);
        LogLine(one, "line 0");
        one.Close();
        EXPECT_EQ(ReadFile(name), row.after);
    }
}

// Another process makes the log between this one's check for it and its
// open (an injected "missing"): its lines stay. After a roll-over likewise.
TEST_F(FileOutputFaults, CreatingTheLogNeverTruncatesLinesAlreadyInIt)
{
    WriteFile(name, "other process\n");
    InjectFileFault(FileOp::Access, ENOENT, 1);
    Open(1, 1, 0);
    LogNumbered(1);
    output.Close();
    EXPECT_EQ(ReadFile(name), "other process\nline 0\n");
}

// Removed, moved away, or moved away and replaced: at the next check the
// output opens the path again, with the headers when it makes the file.
TEST_F(FileOutputFaults, LogRemovedOrMovedAwayIsReopenedAtTheNextCheck)
{
    enum Fault { Removed, Moved, Replaced };
    for (int mode : {1, 3}) {
        for (Fault fault : {Removed, Moved, Replaced}) {
            SCOPED_TRACE(mode * 10 + fault);
            ScratchDir folder;
            const std::string log = folder.File("error.log"), aside = folder.File("moved.txt");
            CKrFileOutput one;
            OpenFile(one, log, mode, 1, 0);
            SetHeaders(one, "#one", "#two", true);
            LogLine(one, "before");
            fault == Removed ? unlink(log.c_str()) : rename(log.c_str(), aside.c_str());
            if (fault == Replaced) WriteFile(log, "replacement\n");
            bool result = false;
            for (int i = 0; i < 1000; ++i) result = LogLine(one, "after " + std::to_string(i));
            one.Close();
            EXPECT_TRUE(result);
            // The thousandth line handed over (two headers, "before", then
            // "after 0" to "after 996") finds the file gone and reopens it.
            const Names lines = SplitLines(ReadFile(log));
            ASSERT_EQ(lines.size(), fault == Replaced ? 5u : 6u);
            EXPECT_EQ(lines[0], fault == Replaced ? "replacement" : "#one");
            EXPECT_EQ(lines[lines.size() - 4], "after 996");
            EXPECT_EQ(lines.back(), "after 999");
            if (fault != Removed) {
                EXPECT_EQ(LineCount(aside), 999u);
            }
        }
    }
}

// A roll-over whose rename finds the log gone (moved by someone else) goes
// on in the path; one whose new file cannot be opened retries at the next
// check, counting the lines lost until then.
TEST_F(FileOutputFaults, RolloverThatLosesItsFileRecovers)
{
    Open(3, 0, 0);
    InjectFileFault(FileOp::Rename, ENOENT, 1);
    EXPECT_TRUE(LogNumbered(1000).back());
    EXPECT_GE(Peer::Descriptor(output), 0);
    EXPECT_EQ(output.GetLostLineCount(), 0u);

    g_nowMs += 1000;
    InjectFileFault(FileOp::Open, EMFILE, 1, "error.log");
    EXPECT_FALSE(LogNumbered(1000).back());
    EXPECT_EQ(Peer::Descriptor(output), -1);
    g_nowMs += 1000;
    EXPECT_TRUE(LogNumbered(1000).back()) << "the cause is gone: the log is back";
    LogNumbered(5);
    output.Close();
    EXPECT_EQ(output.GetLostLineCount(), 1000u);
    ExpectEachLineOnce(0, 1999, 2998);
}

// A FIFO without a reader at the path must not block the open (the logger
// holds its guard then); a folder is refused too. A FIFO with a reader works.
TEST_F(FileOutputFaults, PathThatCannotBeAppendedToIsRefusedWithoutBlocking)
{
    ASSERT_EQ(mkfifo(name.c_str(), 0600), 0);
    const std::string folder = dir.File("folder");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    for (const std::string& path : {name, folder}) {
        for (int mode : {0, 1, 3}) {
            SCOPED_TRACE(path + " " + std::to_string(mode));
            CKrFileOutput refused;
            ASSERT_TRUE(refused.SetParams(path.c_str(), mode, 1, 0));
            bool opened = true;
            ASSERT_TRUE(FinishesWithin(std::chrono::seconds(10), [&] { opened = refused.Open(); }));
            EXPECT_FALSE(opened);
            EXPECT_EQ(refused.GetReturnCode(), 1);
        }
    }
    const int reader = open(name.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    CKrFileOutput piped;
    OpenFile(piped, name, 1, 1, 0);
    LogLine(piped, "through the pipe");
    piped.Close();
    char text[64] = {};
    EXPECT_EQ(read(reader, text, sizeof text - 1), 17);
    EXPECT_STREQ(text, "through the pipe\n");
    close(reader);
}

TEST_F(FileOutputFaults, OpenFailureSetsReturnCodeOne)
{
    ASSERT_TRUE(output.SetParams(name.c_str(), 1, 1, 0));
    InjectFileFault(FileOp::Open, EACCES, 1);
    EXPECT_FALSE(output.Open());
    EXPECT_EQ(output.GetReturnCode(), 1);
    EXPECT_TRUE(output.Open());
    EXPECT_EQ(output.GetReturnCode(), 1) << "return codes are never reset";
}

}  // namespace
