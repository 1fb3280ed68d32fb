// fork while other threads log: the child, whose only thread is the forking
// one, must find every lock of the library free, log, roll over and replace
// its outputs.
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/logger/CKrLoggerList.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/support/platform/KrForkSafety.h>

#include "testsupport/ChildProcess.h"
#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kRounds = 20;
constexpr int kChildLines = 2500;  // two roll-overs (every thousandth line checks; the limit is 0)

void SetLine(CKrErrLogMessage& message, const char* who, int i)
{
    const std::string text = std::string(who) + " line " + std::to_string(i) + "\n";
    message.CleanUpMessage();
    message.SetFormattedMessage(text.c_str());
}

// The child's work: log through both loggers, rolling over the files the
// parent rolls over too (a result may be false when both roll at once), then
// give the named one a file of its own and fill it. 0 when that worked.
int LogInChild(CKrLogger& process, CKrLogger& named, const std::string& ownFile)
{
    CKrErrLogMessage message(false);
    for (int i = 0; i < kChildLines; ++i) {
        SetLine(message, "child", i);
        process.LogErrMsg(message);
        named.LogErrMsg(message);
    }
    if (!named.SetLogOutput(named.NewLogOutput(0, ownFile.c_str(), 1, 1, 0))) return 3;
    for (int i = 0; i < 100; ++i) {
        SetLine(message, "child", i);
        if (!named.LogErrMsg(message)) return 4;
    }
    return 0;
}

TEST(LoggerForkThreads, ChildForkedWhileThreadsLogAndRollOverLogsAndRollsOver)
{
    krtest::ScratchDir dir;
    CKrLogger* process = theLogger();
    CKrLogger* named = getMyLogger("fork-threads");
    ASSERT_TRUE(process && named);
    // Limit 0: every thousandth line of either logger rolls its file over.
    ASSERT_TRUE(process->SetLogOutput(process->NewLogOutput(0, dir.File("process.log").c_str(), 3, 0, 0)));
    ASSERT_TRUE(named->SetLogOutput(named->NewLogOutput(0, dir.File("named.log").c_str(), 3, 0, 0)));

    std::atomic<bool> stop{false};
    std::atomic<int> started{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            CKrLogger& logger = t % 2 ? *process : *named;
            CKrErrLogMessage message(false);
            for (int i = 0; !stop.load(); ++i) {
                SetLine(message, "parent", i);
                logger.LogErrMsg(message);
                if (i == 0) started.fetch_add(1);
            }
        });
    }
    krtest::WaitUntilCountReaches(started, 4);
    EXPECT_GE(krerrlog::ForkSafeLockCount(), 4) << "the loggers and the roll-over locks registered";

    std::mt19937 random(2024);
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        const std::string own = dir.File("child" + std::to_string(round) + ".log");
        EXPECT_EQ(krtest::RunInChild([&] { return LogInChild(*process, *named, own); }, std::chrono::seconds(30)), 0);
        EXPECT_EQ(krtest::SplitLines(krtest::ReadFile(own)).size(), 100u);
    }
    stop = true;
    for (auto& thread : threads) thread.join();
    process->DisableLog();
    EXPECT_TRUE(removeMyLogger("fork-threads"));
}

}  // namespace
