// Delivery counts: every line an output is handed is counted once, as
// delivered (with its bytes) or as lost, whatever makes it fail.
#include "OutputTestSupport.h"

#include "testsupport/LoggerTestPeer.h"

#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/output/CKrCallbackOutputs.h>
#include <krerrlog/support/internal/KrFileOps.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <thread>

using namespace krtest;

namespace {

class DeliveryCounts : public ::testing::Test {
protected:
    void TearDown() override { krerrlog::ClearFileFaults(); }
    ScratchDir dir;
};

// Lines "line <i>" through a file output whose writes fail `faults` times
// from the line numbered `firstFault` on: the counts equal what is in the file.
TEST_F(DeliveryCounts, FileOutputCountsEachLostWriteExactly)
{
    struct Row {
        int lines, firstFault, faults;
    };
    for (const Row& row : {Row{20, 0, 0}, Row{20, 0, 1}, Row{20, 5, 7}, Row{20, 19, 1}, Row{20, 0, 20}}) {
        SCOPED_TRACE(std::to_string(row.lines) + " lines, " + std::to_string(row.faults) + " faults from line " +
                     std::to_string(row.firstFault));
        const std::string name = dir.File("error" + std::to_string(row.firstFault) + "_" +
                                          std::to_string(row.faults) + ".log");
        const long long before = std::time(nullptr);
        CKrFileOutput output;
        OpenFile(output, name, 1, 1, 0);
        for (int i = 0; i < row.lines; ++i) {
            if (i == row.firstFault && row.faults > 0) krerrlog::InjectFileFault(krerrlog::FileOp::Write, EIO, row.faults);
            LogLine(output, "line " + std::to_string(i));
        }
        const KrDeliveryCounts counts = output.GetDeliveryCounts();
        const std::string content = ReadFile(name);
        EXPECT_EQ(counts.linesFailed, static_cast<unsigned long long>(row.faults));
        EXPECT_EQ(counts.linesDelivered, static_cast<unsigned long long>(row.lines - row.faults));
        EXPECT_EQ(SplitLines(content).size(), counts.linesDelivered);
        EXPECT_EQ(counts.bytesDelivered, content.size());
        EXPECT_GE(counts.countingSince, before - 1);
        EXPECT_LE(counts.countingSince, static_cast<long long>(std::time(nullptr)));
        EXPECT_EQ(counts.lastFailure != 0, row.faults > 0);
        if (row.faults > 0) {
            EXPECT_GE(counts.lastFailure, counts.countingSince);
        }
        output.Close();
    }
}

void Receive(const char*, int, void* parameter) { ++*static_cast<int*>(parameter); }

// A closed synchronous output has no callback: what it is handed then is lost.
TEST_F(DeliveryCounts, CallbackOutputsCountLinesWithoutACallbackAsLost)
{
    int received = 0;
    CKrSyncParameterizedCallbackOutput output;
    ASSERT_TRUE(output.SetParams(&Receive, &received));
    ASSERT_TRUE(output.Open());
    for (const char* text : {"one", "two", "three"}) LogLine(output, text);
    output.Close();
    LogLine(output, "after close");
    LogLine(output, "again");
    const KrDeliveryCounts counts = output.GetDeliveryCounts();
    EXPECT_EQ(received, 3);
    EXPECT_EQ(counts.linesDelivered, 3u);
    EXPECT_EQ(counts.bytesDelivered, std::string("one\ntwo\nthree\n").size());
    EXPECT_EQ(counts.linesFailed, 2u);
}

// The logger answers for the outputs attached to its error and audit logs.
TEST_F(DeliveryCounts, LoggerReportsItsErrorAndAuditOutputs)
{
    std::unique_ptr<CKrLogger> logger(CKrLoggerTestPeer::Create());
    CKrLoggerTestPeer::Init(*logger);
    KrDeliveryCounts counts{};
    counts.linesDelivered = 99;
    EXPECT_FALSE(logger->GetLogDeliveryCounts(counts));
    EXPECT_FALSE(logger->GetAuditDeliveryCounts(counts));
    EXPECT_EQ(counts.linesDelivered, 99u) << "left alone without an output";

    ASSERT_TRUE(logger->SetLogOutput(logger->NewLogOutput(0, dir.File("error.log").c_str(), 1, 1, 0)));
    ASSERT_TRUE(logger->EnableAuditLogRollover(logger->NewLogOutput(0, dir.File("audit.log").c_str(), 1, 1, 0)));
    CKrErrLogMessage message(false);
    for (int i = 0; i < 5; ++i) {
        SetText(message, "error " + std::to_string(i) + "\n");
        if (i == 3) krerrlog::InjectFileFault(krerrlog::FileOp::Write, EIO, 1);
        logger->LogErrMsg(message);
    }
    SetText(message, "audit\n");
    logger->LogAuditMsg(message);

    ASSERT_TRUE(logger->GetLogDeliveryCounts(counts));
    EXPECT_EQ(counts.linesDelivered, 4u);
    EXPECT_EQ(counts.linesFailed, 1u);
    EXPECT_EQ(counts.bytesDelivered, ReadFile(dir.File("error.log")).size());
    ASSERT_TRUE(logger->GetAuditDeliveryCounts(counts));
    EXPECT_EQ(counts.linesDelivered, 1u);
    EXPECT_EQ(counts.linesFailed, 0u);
    CKrLoggerTestPeer::Release(*logger);
}

// Threads log while writes fail: no loss goes uncounted, no line is counted
// twice, and the lost lines are exactly the failed writes.
TEST(DeliveryCountsThreads, LostWritesAreCountedExactly)
{
    constexpr int kThreads = 4;
    constexpr int kLines = 3000;
    constexpr int kFaults = 37;
    ScratchDir dir;
    CKrFileOutput output;
    OpenFile(output, dir.File("error.log"), 1, 1, 0);
    std::atomic<int> started{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    EXPECT_TRUE(FinishesWithin(std::chrono::seconds(120), [&] {
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                CKrErrLogMessage message(false);
                started.fetch_add(1);
                while (!go.load()) std::this_thread::yield();
                for (int i = 0; i < kLines; ++i) {
                    SetText(message, "T" + std::to_string(t) + " " + std::to_string(i) + "\n");
                    output.Log(message);
                }
            });
        }
        WaitUntilCountReaches(started, kThreads);
        krerrlog::InjectFileFault(krerrlog::FileOp::Write, EIO, kFaults);
        go.store(true);
        for (auto& thread : threads) thread.join();
    }));
    krerrlog::ClearFileFaults();
    const KrDeliveryCounts counts = output.GetDeliveryCounts();
    const std::string content = ReadFile(dir.File("error.log"));
    EXPECT_EQ(counts.linesFailed, static_cast<unsigned long long>(kFaults));
    EXPECT_EQ(counts.linesDelivered, static_cast<unsigned long long>(kThreads * kLines - kFaults));
    EXPECT_EQ(SplitLines(content).size(), counts.linesDelivered);
    EXPECT_EQ(counts.bytesDelivered, content.size());
    output.Close();
}

}  // namespace
