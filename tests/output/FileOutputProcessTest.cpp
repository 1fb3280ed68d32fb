// The file output under real faults of whole processes: a file size limit and
// a full file system in the middle of a line, writers killed while they log,
// and several processes writing and rolling over one log.
#include "OutputTestSupport.h"
#include "testsupport/ChildProcess.h"

#include <krerrlog/support/internal/KrFileOps.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <map>
#include <random>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace krtest;

namespace {

// Lengths vary, so that a torn line or two lines glued together never look whole.
std::string NumberedLine(const std::string& tag, int n, size_t padding = 40)
{
    return tag + " " + std::to_string(n) + " " + std::string(padding + static_cast<size_t>(n % 37), 'x');
}

bool IsNumberedLine(const std::string& line, const std::string& tag, size_t padding = 40)
{
    int n = -1;
    return std::sscanf(line.c_str(), (tag + " %d").c_str(), &n) == 1 && line == NumberedLine(tag, n, padding);
}

// Every line of the file is a whole numbered line, the file ends with a
// newline, and the lines from `from` to `to` are all there.
void ExpectWholeLinesWith(const std::string& path, const std::string& tag, int from, int to)
{
    const std::string content = ReadFile(path);
    EXPECT_TRUE(content.empty() || content.back() == '\n');
    std::map<int, int> seen;
    for (const std::string& line : SplitLines(content)) {
        EXPECT_TRUE(IsNumberedLine(line, tag)) << "torn: " << line.substr(0, 80);
        ++seen[std::atoi(line.c_str() + tag.size() + 1)];
    }
    for (int n = from; n < to; ++n) EXPECT_EQ(seen[n], 1) << n;
}

// A file size limit reached in the middle of a line (SIGXFSZ ignored): once
// the limit is raised, the next line starts a line of its own.
TEST(FileOutputProcesses, FileSizeLimitInTheMiddleOfALine)
{
    ScratchDir dir;
    const std::string name = dir.File("error.log");
    const int exitCode = RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        CKrFileOutput output;
        if (!output.SetParams(name.c_str(), 1, 1, 0) || !output.Open()) return 2;
        rlimit normal{};
        getrlimit(RLIMIT_FSIZE, &normal);
        const rlimit low{4000, normal.rlim_max};
        if (setrlimit(RLIMIT_FSIZE, &low) != 0) return 3;
        for (int n = 0; n < 100; ++n) LogLine(output, NumberedLine("L", n));
        setrlimit(RLIMIT_FSIZE, &normal);
        for (int n = 100; n < 120; ++n) LogLine(output, NumberedLine("L", n));
        return output.GetLostLineCount() > 0 ? 0 : 4;
    });
    EXPECT_EQ(exitCode, 0);
    ExpectWholeLinesWith(name, "L", 100, 120);
}

// A small tmpfs filled up by the log (mounting needs root; refused elsewhere).
TEST(FileOutputProcesses, FullFileSystemInTheMiddleOfALine)
{
    ScratchDir dir;
    const std::string mountPoint = dir.File("small");
    ASSERT_EQ(mkdir(mountPoint.c_str(), 0700), 0);
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k,mode=0700") != 0) {
        GTEST_SKIP() << "mounting a tmpfs was refused (" << std::strerror(errno) << "); needs root";
    }
    const std::string name = mountPoint + "/error.log", filler = mountPoint + "/filler";
    WriteFile(filler, std::string(16384, 'f'));
    {
        CKrFileOutput output;
        OpenFile(output, name, 1, 1, 0);
        int n = 0;
        while (n < 5000 && output.LogMessage((NumberedLine("L", n) + "\n").c_str(), NumberedLine("L", n).size() + 1)) {
            ++n;
        }
        EXPECT_LT(n, 5000) << "the file system never filled up";
        ASSERT_EQ(unlink(filler.c_str()), 0);
        for (int more = 10000; more < 10050; ++more) LogLine(output, NumberedLine("L", more));
        output.Close();
        ExpectWholeLinesWith(name, "L", 10000, 10050);
    }
    EXPECT_EQ(umount(mountPoint.c_str()), 0);
}

// Writers killed with SIGKILL while four threads log long lines may leave a
// line cut short at the end; the next output to open the log ends it first.
TEST(FileOutputProcesses, WriterKilledWhileLoggingLeavesNoFragmentForTheNext)
{
    constexpr size_t kLong = 20000;  // several pages: a fatal signal can stop such a write midway
    std::mt19937 random(12345);
    int cutShort = 0;  // rounds whose kill left a line cut short (about one in four)
    for (int round = 0; round < 12 && cutShort < 2; ++round) {
        SCOPED_TRACE(round);
        ScratchDir dir;
        const std::string name = dir.File("error.log");
        const pid_t pid = StartChild([&] {
            CKrFileOutput output;
            if (!output.SetParams(name.c_str(), 1, 1, 0) || !output.Open()) return 2;
            std::vector<std::thread> threads;
            for (int t = 0; t < 4; ++t) {
                threads.emplace_back([&output, t] {
                    for (int n = t; n < 4 * 400; n += 4) LogLine(output, NumberedLine("K", n, kLong));
                });
            }
            for (auto& thread : threads) thread.join();
            return 0;
        });
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 60));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        const std::string left = ReadFile(name);
        cutShort += !left.empty() && left.back() != '\n';

        CKrFileOutput next;
        OpenFile(next, name, 1, 1, 0);
        for (int n = 0; n < 5; ++n) LogLine(next, NumberedLine("A", n));
        next.Close();
        const Names lines = SplitLines(ReadFile(name));
        int after = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            if (IsNumberedLine(line, "A")) {
                ++after;
            } else if (!IsNumberedLine(line, "K", kLong)) {
                // Only the killed process's last line may be cut short.
                EXPECT_EQ(i + 6, lines.size()) << "torn: " << line.substr(0, 60);
                EXPECT_EQ(line.rfind('K', 0), 0u);
            }
        }
        EXPECT_EQ(after, 5);
    }
    RecordProperty("RoundsWithALineCutShort", cutShort);
}

// Four processes, started together, create and roll over one log with a
// small limit: every line of every process is on disk exactly once, whole.
TEST(FileOutputProcesses, SeveralProcessesCreateAndRollOverOneLog)
{
    constexpr int kProcesses = 4, kLines = 6000;
    ScratchDir dir;
    const std::string name = dir.File("error.log");
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        children.push_back(StartChild([&] {
            close(start[1]);
            char go;
            if (read(start[0], &go, 1) != 0) return 5;  // waits until the pipe is closed
            CKrFileOutput output;
            if (!output.SetParams(name.c_str(), 3, 1, 0) || !output.Open()) return 2;
            CKrFileOutputTestPeer::SetSizeLimitBytes(output, 64 * 1024);
            SetHeaders(output, "#one", "#two");
            for (int n = 0; n < kLines; ++n) LogLine(output, NumberedLine("P" + std::to_string(p), n));
            output.Close();
            return output.GetLostLineCount() == 0 ? 0 : 3;
        }));
        ASSERT_GT(children.back(), 0);
    }
    close(start[0]);
    close(start[1]);  // all start now
    for (pid_t pid : children) EXPECT_EQ(WaitForChild(pid, std::chrono::seconds(120)), 0);

    // A torn line is shown with its file, place and neighbours.
    std::map<std::string, int> seen;
    for (const std::string& entry : dir.List()) {
        const std::vector<std::string> lines = SplitLines(ReadFile(dir.File(entry)));
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            if (line == "#one" || line == "#two") continue;
            int p = -1;
            if (std::sscanf(line.c_str(), "P%d", &p) == 1 && IsNumberedLine(line, "P" + std::to_string(p))) {
                ++seen[line];
                continue;
            }
            ADD_FAILURE() << "torn in " << entry << " at line " << i << " of " << lines.size() << ": "
                          << line.substr(0, 200) << "\n  after: " << (i > 0 ? lines[i - 1] : "")
                          << "\n  before: " << (i + 1 < lines.size() ? lines[i + 1] : "");
        }
    }
    int missing = 0, repeated = 0;
    for (int p = 0; p < kProcesses; ++p) {
        for (int n = 0; n < kLines; ++n) {
            const int count = seen[NumberedLine("P" + std::to_string(p), n)];
            missing += count == 0;
            repeated += count > 1;
        }
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(repeated, 0);
    EXPECT_GT(dir.List().size(), 3u) << "the log was rolled over";
}

}  // namespace
