// The file output under failures of the file layer: refused, colliding and
// failing renames, undeletable backups, a new file that cannot be opened, a
// failing write. No line already written may be lost, truncated or written to
// a descriptor the output no longer owns.
#include "OutputTestSupport.h"

#include <krerrlog/support/KrFileOps.h>

#include <cerrno>
#include <fcntl.h>
#include <map>
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

    // Every line numbered from "from" to the last appears exactly once across the folder.
    void ExpectEachLineOnce(int from) const
    {
        std::map<std::string, int> seen;
        for (const std::string& entry : dir.List()) {
            for (const std::string& line : SplitLines(ReadFile(dir.File(entry)))) ++seen[line];
        }
        for (int i = from; i < next; ++i) EXPECT_EQ(seen["line " + std::to_string(i)], 1) << "line " << i;
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
// cross-device move) leaves the output closed; nothing written before is lost.
class OtherRenameFailures : public FileOutputFaults, public ::testing::WithParamInterface<int> {};

TEST_P(OtherRenameFailures, LeaveTheOutputClosedUntilOpenedAgain)
{
    Open(3, 0, 0);
    InjectFileFault(FileOp::Rename, GetParam(), 1);
    std::vector<bool> results = LogNumbered(2000);
    EXPECT_FALSE(results[999]);
    EXPECT_TRUE(results[1999]) << "no size check rolls over without a file";
    EXPECT_EQ(Peer::Descriptor(output), -1);
    EXPECT_FALSE(output.LogMessage("x\n", 2));
    ASSERT_TRUE(output.Open()) << "opening again brings it back";
    LogNumbered(10);
    output.Close();
    EXPECT_EQ(LineCount(name), 1009u);
    EXPECT_EQ(SplitLines(ReadFile(name)).back(), "line 2009");
}

INSTANTIATE_TEST_SUITE_P(FileOutputFaults, OtherRenameFailures, ::testing::Values(EEXIST, EXDEV));

TEST_F(FileOutputFaults, UndeletableBackupKeepsTheCurrentFileInUse)
{
    WriteFile(dir.File("error_20240101_000000.1.log"), "old backup\n");
    Open(3, 0, 1);
    InjectFileFault(FileOp::Unlink, EPERM, 1);
    EXPECT_FALSE(LogNumbered(1000).back()) << "the current file is written on";
    g_nowMs += 1000;
    EXPECT_TRUE(LogNumbered(1000).back()) << "the next check tries again";
    ExpectOneBackupOf(1999);
    output.Close();
    ExpectEachLineOnce(0);
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
