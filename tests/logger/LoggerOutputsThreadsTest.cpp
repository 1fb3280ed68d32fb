// Logging from many threads while the error output is replaced.
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/CKrLogOutput.h>

#include "logger/ProbeOutput.h"
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

// Threads that each log lines of their own until stopped, counting what the
// logger accepted. Made only once every thread has logged at least once, so
// that what the test does next really happens while they log.
class LoggingThreads {
public:
    LoggingThreads(CKrLogger& logger, int count)
    {
        for (int t = 0; t < count; ++t) {
            m_threads.emplace_back([this, &logger, t] {
                CKrErrLogMessage message(false);
                bool first = true;
                for (int i = 0; !m_stop.load(); ++i) {
                    // Whole lines: a file output ends a file's unfinished last line when it opens it again.
                    const std::string text = "thread " + std::to_string(t) + " line " + std::to_string(i) + "\n";
                    message.CleanUpMessage();
                    message.SetFormattedMessage(text.c_str());
                    if (!logger.LogErrMsg(message)) continue;
                    accepted.fetch_add(1);
                    acceptedBytes.fetch_add(message.GetBufferLen());
                    if (first) m_started.fetch_add(1);
                    first = false;
                }
            });
        }
        krtest::WaitUntilCountReaches(m_started, count);
    }
    ~LoggingThreads() { Stop(); }
    void Stop()
    {
        m_stop = true;
        for (auto& thread : m_threads)
            if (thread.joinable()) thread.join();
    }
    std::atomic<long> accepted{0};
    std::atomic<long long> acceptedBytes{0};

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_started{0};
    std::vector<std::thread> m_threads;
};

TEST(LoggerOutputsThreads, SetLogOutputWaitsForTheLogInProgress)
{
    ProbeLog probe;  // outlives the logger, which closes the probe output at its end
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

    std::atomic<bool> replaced{false};
    std::thread replacer([&] {
        logger->SetLogOutput(new ProbeOutput(probe));
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
    ProbeLog probe;
    ASSERT_TRUE(logger->SetLogOutput(new ProbeOutput(probe)));
    LoggingThreads threads(*logger, 6);
    const bool finished = krtest::FinishesWithin(std::chrono::seconds(60), [&] {
        for (int round = 0; round < 300; ++round) {
            if (round % 50 == 49) {
                logger->DisableLog();
            } else {
                EXPECT_TRUE(logger->SetLogOutput(new ProbeOutput(probe)));
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    threads.Stop();
    EXPECT_TRUE(finished);
    EXPECT_EQ(probe.misuse.load(), 0) << "no Log after Close or during deletion";
    EXPECT_EQ(probe.logged.load(), threads.accepted.load()) << "every accepted message reached a live output";
    logger.reset();
    EXPECT_EQ(probe.alive.load(), 0) << "every output was deleted exactly once";
    EXPECT_EQ(probe.deleted.load(), probe.closed.load());
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
    LoggingThreads threads(*logger, 4);
    for (int round = 1; round <= 60; ++round) {
        if (round % 20 == 0) {
            logger->DisableLog();
        } else {
            EXPECT_TRUE(logger->SetLogOutput(fileOutput(round)));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    threads.Stop();
    logger->DisableLog();
    long long onDisk = 0;
    for (const std::string& entry : dir.List()) onDisk += static_cast<long long>(krtest::ReadFile(dir.File(entry)).size());
    EXPECT_GT(onDisk, 0);
    EXPECT_EQ(onDisk, threads.acceptedBytes.load()) << "every message the logger accepted is in a file, whole";
}

}  // namespace
