// Logging from many threads while the error output is replaced.
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/CKrLogOutput.h>

#include "testsupport/LoggerTestPeer.h"
#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// Counts calls into it and catches any use after Close or during destruction.
struct Tally {
    std::atomic<long> logged{0};
    std::atomic<long> misuse{0};
    std::atomic<int> alive{0};
};

class CountingOutput : public CKrLogOutput {
public:
    explicit CountingOutput(Tally& tally) : m_tally(tally) { m_tally.alive.fetch_add(1); }
    ~CountingOutput() override
    {
        m_bGone = true;
        m_tally.alive.fetch_sub(1);
    }
    bool Open() override { return true; }
    bool Log(CKrErrLogMessage& message) override
    {
        if (m_bClosed || m_bGone) m_tally.misuse.fetch_add(1);
        m_iBytes += message.GetBufferLen();  // plain field: a race here shows under ThreadSanitizer
        m_tally.logged.fetch_add(1);
        return true;
    }
    bool Close() override
    {
        m_bClosed = true;
        m_iBytes = 0;
        return true;
    }

private:
    Tally& m_tally;
    std::atomic<bool> m_bClosed{false};
    std::atomic<bool> m_bGone{false};
    std::atomic<long> m_iBytes{0};
};

// Blocks inside Log until released, to see who waits for it.
class BlockingOutput : public CKrLogOutput {
public:
    std::atomic<bool> inLog{false};
    std::atomic<bool> letGo{false};
    std::atomic<bool>* deletedFlag = nullptr;
    ~BlockingOutput() override
    {
        if (deletedFlag) *deletedFlag = true;
    }
    bool Open() override { return true; }
    bool Log(CKrErrLogMessage&) override
    {
        inLog = true;
        while (!letGo.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }
    bool Close() override { return true; }
};

TEST(LoggerOutputsThreads, SetLogOutputWaitsForTheLogInProgress)
{
    std::unique_ptr<CKrLogger> logger(CKrLoggerTestPeer::Create());
    auto* blocking = new BlockingOutput;
    std::atomic<bool> oldDeleted{false};
    blocking->deletedFlag = &oldDeleted;
    ASSERT_TRUE(logger->SetLogOutput(blocking));

    std::thread caller([&] {
        CKrErrLogMessage message(false);
        message.FormatLogProlog("a.cpp", 1, 0);
        logger->LogErrMsg(message);
    });
    while (!blocking->inLog.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    Tally tally;
    std::atomic<bool> replaced{false};
    std::thread replacer([&] {
        logger->SetLogOutput(new CountingOutput(tally));
        replaced = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(replaced.load()) << "SetLogOutput must wait while Log runs";
    EXPECT_FALSE(oldDeleted.load());
    blocking->letGo = true;
    caller.join();
    replacer.join();
    EXPECT_TRUE(replaced.load());
    EXPECT_TRUE(oldDeleted.load());
}

TEST(LoggerOutputsThreads, ReplacingTheOutputWhileManyThreadsLog)
{
    std::unique_ptr<CKrLogger> logger(CKrLoggerTestPeer::Create());
    Tally tally;
    ASSERT_TRUE(logger->SetLogOutput(new CountingOutput(tally)));
    std::atomic<bool> stop{false};
    std::atomic<long> accepted{0};
    std::atomic<int> threadsThatLogged{0};
    std::vector<std::thread> loggers;
    for (int t = 0; t < 6; ++t) {
        loggers.emplace_back([&, t] {
            CKrErrLogMessage message(false);
            bool first = true;
            for (int i = 0; !stop.load(); ++i) {
                message.FormatLogProlog("threads.cpp", t * 100000 + i, 0);
                if (!logger->LogErrMsg(message)) continue;
                accepted.fetch_add(1);
                if (first) threadsThatLogged.fetch_add(1);
                first = false;
            }
        });
    }
    krtest::WaitUntilCountReaches(threadsThatLogged, 6);
    const bool finished = krtest::FinishesWithin(std::chrono::seconds(60), [&] {
        for (int round = 0; round < 300; ++round) {
            if (round % 50 == 49) {
                logger->DisableLog();
            } else {
                EXPECT_TRUE(logger->SetLogOutput(new CountingOutput(tally)));
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    stop = true;
    for (auto& thread : loggers) thread.join();
    EXPECT_TRUE(finished);
    EXPECT_EQ(tally.misuse.load(), 0) << "no Log after Close or during deletion";
    EXPECT_EQ(tally.logged.load(), accepted.load()) << "every accepted message reached a live output";
    EXPECT_GT(accepted.load(), 0);
    logger.reset();
    EXPECT_EQ(tally.alive.load(), 0) << "every output was deleted exactly once";
}

TEST(LoggerOutputsThreads, ReplacingFileOutputsWhileManyThreadsLogLosesNoAcceptedByte)
{
    krtest::ScratchDir dir;
    std::unique_ptr<CKrLogger> logger(CKrLoggerTestPeer::Create());
    auto fileOutput = [&](int round) {
        const std::string name = dir.File("error" + std::to_string(round % 3) + ".log");
        return logger->NewLogOutput(0, name.c_str(), 1, 1, 0);
    };
    ASSERT_TRUE(logger->SetLogOutput(fileOutput(0)));
    std::atomic<bool> stop{false};
    std::atomic<long long> acceptedBytes{0};
    std::atomic<int> threadsThatLogged{0};
    std::vector<std::thread> loggers;
    for (int t = 0; t < 4; ++t) {
        loggers.emplace_back([&, t] {
            CKrErrLogMessage message(false);
            bool first = true;
            for (int i = 0; !stop.load(); ++i) {
                message.FormatLogProlog("files.cpp", t * 1000000 + i, 0);
                if (!logger->LogErrMsg(message)) continue;
                acceptedBytes.fetch_add(message.GetBufferLen());
                if (first) threadsThatLogged.fetch_add(1);
                first = false;
            }
        });
    }
    krtest::WaitUntilCountReaches(threadsThatLogged, 4);
    for (int round = 1; round <= 60; ++round) {
        if (round % 20 == 0) {
            logger->DisableLog();
        } else {
            EXPECT_TRUE(logger->SetLogOutput(fileOutput(round)));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    for (auto& thread : loggers) thread.join();
    logger->DisableLog();
    long long onDisk = 0;
    for (const std::string& entry : dir.List()) onDisk += static_cast<long long>(krtest::ReadFile(dir.File(entry)).size());
    EXPECT_GT(onDisk, 0);
    EXPECT_EQ(onDisk, acceptedBytes.load()) << "every message the logger accepted is in a file, whole";
}

}  // namespace
