// The file output in buffered mode on one thread: ring sizes, switching on and
// off, what reaches the file (0xFE bytes, messages as long as the ring, lines
// across the end of the ring), roll-over between lines, failed writes, the
// crash flush and the drain at process exit.
#include "OutputTestSupport.h"

#include <krerrlog/output/internal/KrTraceRingBuffer.h>
#include <krerrlog/output/internal/KrTraceWriterThread.h>
#include <krerrlog/support/internal/KrFileOps.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <thread>

using krerrlog::TraceRingBuffer;
using krerrlog::TraceWriter;
using namespace krtest;
using Peer = CKrFileOutputTestPeer;

namespace {

constexpr uint32_t kOneMB = 1u << 20;

int ThreadsOfThisProcess()
{
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}

class BufferedOutput : public ::testing::Test {
protected:
    void TearDown() override { krerrlog::ClearFileFaults(); }

    // A mode-3 output with a 1 MB ring, buffered.
    void OpenBuffered(int limitMb = 1, int ringMb = 1)
    {
        ASSERT_TRUE(output.SetParams(name.c_str(), 3, limitMb, 0, ringMb));
        ASSERT_TRUE(output.Open());
        output.EnableBuffering(true);
        ASSERT_TRUE(output.IsBufferingEnabled());
    }
    void Log(const std::string& text)
    {
        CKrErrLogMessage message(false);
        SetText(message, text);
        EXPECT_TRUE(output.Log(message));
    }

    ScratchDir dir;
    std::string name = dir.File("trace.log");
    CKrFileOutput output;
};

TEST(TraceRingSize, PowerOfTwoMegabytesFromTheConfiguredValue)
{
    const struct {
        uint32_t megabytes, bytes;
    } rows[] = {{0, kOneMB},        {1, kOneMB},         {2, 2 * kOneMB},   {3, 4 * kOneMB},
                {8, 8 * kOneMB},    {9, 16 * kOneMB},    {16, 16 * kOneMB}, {257, 512 * kOneMB},
                {512, 512 * kOneMB}, {4096, 512 * kOneMB}, {0xFFFFFFFFu, 512 * kOneMB}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.megabytes);
        EXPECT_EQ(TraceRingBuffer::BytesForMegabytes(row.megabytes), row.bytes);
    }
}

TEST_F(BufferedOutput, DefaultRingIsEightMegabytesWakingAtSixtyFourKiB)
{
    ASSERT_TRUE(output.SetParams(name.c_str(), 1, 0, 0));
    ASSERT_TRUE(output.Open());
    EXPECT_TRUE(output.IsBufferingSupported());
    EXPECT_EQ(output.GetSizeOfRingBuffer(), 8u);
    output.EnableBuffering(true);
    EXPECT_EQ(TraceRingBuffer::Process().Size(), 8388608u);
    EXPECT_EQ(TraceRingBuffer::Process().WakeThreshold(), 65536u);
}

TEST_F(BufferedOutput, NegativeOrAbsurdRingSizesAreRefusedWithNothingChanged)
{
    for (int megabytes : {-1, -4096, 4097, 0x7FFFFFFF}) {
        SCOPED_TRACE(megabytes);
        EXPECT_FALSE(output.SetParams(name.c_str(), 3, 1, 0, megabytes));
        EXPECT_STREQ(output.GetFileName(), "");
        EXPECT_EQ(output.GetSizeOfRingBuffer(), 8u);
    }
    EXPECT_TRUE(output.SetParams(name.c_str(), 3, 1, 0, 4096));
    EXPECT_EQ(output.GetSizeOfRingBuffer(), 4096u);
}

TEST_F(BufferedOutput, SwitchingOnTwiceMakesOneThreadAndOffStopsItAndLogsDirectly)
{
    ASSERT_TRUE(output.SetParams(name.c_str(), 1, 0, 0, 1));
    ASSERT_TRUE(output.Open());
    output.EnableBuffering(false);  // unbuffered: nothing happens
    EXPECT_FALSE(output.IsBufferingEnabled());
    const int before = ThreadsOfThisProcess();
    output.EnableBuffering(true);
    output.EnableBuffering(true);
    EXPECT_EQ(ThreadsOfThisProcess(), before + 1);
    Log("into the ring\n");
    EXPECT_EQ(ReadFile(name), "") << "buffered text waits for the writer";

    // The stop request wakes the writer at once instead of after its 10 s wait.
    EXPECT_TRUE(FinishesWithin(std::chrono::seconds(5), [&] { output.EnableBuffering(false); }));
    EXPECT_FALSE(output.IsBufferingEnabled());
    EXPECT_FALSE(TraceRingBuffer::Process().Exists());
    EXPECT_EQ(ReadFile(name), "into the ring\n");
    Log("direct\n");
    EXPECT_EQ(ReadFile(name), "into the ring\ndirect\n");
    for (int i = 0; i < 500 && ThreadsOfThisProcess() != before; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(ThreadsOfThisProcess(), before);
}

TEST_F(BufferedOutput, ModeStaysOffWhenTheRingCannotBeHadOrAnotherOutputHasIt)
{
    ASSERT_TRUE(output.SetParams(name.c_str(), 1, 0, 0, 1));
    ASSERT_TRUE(output.Open());
    krerrlog::FailNextTraceRingAllocations(1);
    output.EnableBuffering(true);
    EXPECT_FALSE(output.IsBufferingEnabled());
    Log("written directly\n");
    EXPECT_EQ(ReadFile(name), "written directly\n");

    output.EnableBuffering(true);
    ASSERT_TRUE(output.IsBufferingEnabled());
    CKrFileOutput other;
    ASSERT_TRUE(other.SetParams(dir.File("other.log").c_str(), 1, 0, 0, 1));
    ASSERT_TRUE(other.Open());
    other.EnableBuffering(true);
    EXPECT_FALSE(other.IsBufferingEnabled());
    other.DeleteRingBuffer();  // not its ring: the first output stays buffered
    EXPECT_TRUE(output.IsBufferingEnabled());
}

TEST_F(BufferedOutput, TextReachesTheFileWholeAndInOrder)
{
    OpenBuffered(64);
    const std::string withEmptyMarker = std::string("a\xFE") + "b\xFE\xFE\n";
    const std::string fullRing(kOneMB - 1, 'r');
    const std::string tooLong(kOneMB, 'x');
    const struct {
        const char* what;
        std::string logged, expected;
    } rows[] = {
        {"0xFE bytes are stored as ?", withEmptyMarker, "a?b??\n"},
        {"as long as the ring", fullRing + "\n", fullRing + "\n"},
        {"one byte longer than the ring", tooLong + "\n", ""},
        {"empty message", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const size_t before = ReadFile(name).size();
        Log(row.logged);
        EXPECT_TRUE(output.Flush());
        EXPECT_EQ(ReadFile(name).substr(before), row.expected);
    }
    // Lines that cross the end of the ring: 1 MB is not a multiple of 3,000.
    std::string expected = ReadFile(name);
    for (int i = 0; i < 700; ++i) {
        const std::string line = std::to_string(i) + std::string(2990, static_cast<char>('a' + i % 26)) + "\n";
        Log(line);
        expected += line;
        if (i % 50 == 0) output.Flush();
    }
    output.Close();
    EXPECT_EQ(ReadFile(name), expected);
}

TEST_F(BufferedOutput, AFullRingWakesTheWriterWithoutAFlush)
{
    OpenBuffered(64);
    const std::string line = std::string(999, 'f') + "\n";
    const size_t lines = 2 * kOneMB / line.size();  // two rings' worth: the producer waits for room
    for (size_t i = 0; i < lines; ++i) Log(line);
    EXPECT_GE(ReadFile(name).size(), lines * line.size() - kOneMB);
}

TEST_F(BufferedOutput, RollOverWaitsForTheEndOfTheLineInProgress)
{
    ASSERT_TRUE(output.SetParams(name.c_str(), 3, 1, 0));
    Peer::SetSizeLimitBytes(output, 40);
    ASSERT_TRUE(output.Open());
    SetHeaders(output, "H1", "H2");
    const struct {
        const char* chunk;
        size_t files;  // after this chunk
    } steps[] = {
        {"0123456789 0123456789 0123456789 0123", 1},  // a line begun, near the limit
        {"4567890123456789", 1},                       // due, but still the same line
        {"end\nnext line\n", 2},                       // rolled after "end\n"
        {"a", 2},                                      // below the limit again
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.chunk);
        EXPECT_TRUE(output.RollOverCheck_LogMessageBuffered(step.chunk, std::strlen(step.chunk)));
        EXPECT_EQ(dir.List().size(), step.files);
    }
    const Names entries = dir.List();
    EXPECT_EQ(ReadFile(dir.File(entries[1])), "0123456789 0123456789 0123456789 01234567890123456789end\n");
    EXPECT_EQ(ReadFile(name), "H1\nH2\nnext line\na");
}

TEST_F(BufferedOutput, AFailedWriteLosesExactlyItsLinesAndWritingResumes)
{
    OpenBuffered();
    std::string expected;
    for (int batch = 0; batch < 3; ++batch) {
        SCOPED_TRACE(batch);
        if (batch == 1) krerrlog::InjectFileFault(krerrlog::FileOp::Write, ENOSPC, 1);
        for (int i = 0; i < 100; ++i) {
            const std::string line = "batch " + std::to_string(batch) + " line " + std::to_string(i) + "\n";
            Log(line);
            if (batch != 1) expected += line;
        }
        output.Flush();
        EXPECT_EQ(ReadFile(name), expected);
    }
}

TEST_F(BufferedOutput, CrashFlushWritesTheRingUnlessTheWriterLockStaysTaken)
{
    OpenBuffered();
    EXPECT_TRUE(krerrlog::FlushTraceRingForCrash(100)) << "an empty ring";
    Log("before the crash\n");
    std::atomic<int> holding{0};
    std::atomic<bool> release{false};
    std::thread holder([&] {
        std::lock_guard<std::mutex> busy(TraceWriter::Process().WriterLock());
        holding = 1;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    WaitUntilCountReaches(holding, 1);
    EXPECT_FALSE(krerrlog::FlushTraceRingForCrash(20));
    release = true;
    holder.join();
    EXPECT_EQ(ReadFile(name), "");
    EXPECT_TRUE(krerrlog::FlushTraceRingForCrash(100));
    EXPECT_EQ(ReadFile(name), "before the crash\n");
    EXPECT_TRUE(output.IsBufferingEnabled());
    Log("after\n");
    output.Close();
    EXPECT_EQ(ReadFile(name), "before the crash\nafter\n");
}

TEST_F(BufferedOutput, ProcessExitWritesEveryAcceptedLine)
{
    GTEST_FLAG_SET(death_test_style, "fast");  // the child writes where this test reads
    EXPECT_EXIT(
        {
            auto* leaked = new CKrFileOutput;  // like the logger's outputs: never destroyed
            if (!leaked->SetParams(name.c_str(), 1, 0, 0, 1) || !leaked->Open()) std::_Exit(3);
            leaked->EnableBuffering(true);
            if (!leaked->IsBufferingEnabled()) std::_Exit(4);
            CKrErrLogMessage message(false);
            for (int i = 0; i < 1000; ++i) {
                SetText(message, "line " + std::to_string(i) + "\n");
                leaked->Log(message);
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    const Names lines = SplitLines(ReadFile(name));
    ASSERT_EQ(lines.size(), 1000u);
    EXPECT_EQ(lines.back(), "line 999");
}

}  // namespace
