// The logger object: the process-wide instance, Init and Release.
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/support/KrThreadKey.h>

#include "testsupport/LoggerTestPeer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <thread>
#include <vector>

TEST(ProcessLoggerDeathTest, FirstCallsFromManyThreadsMakeOneLogger)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, no logger yet
    EXPECT_EXIT(
        {
            std::atomic<bool> go{false};
            std::vector<CKrLogger*> seen(16, nullptr);
            std::vector<std::thread> threads;
            for (int i = 0; i < 16; ++i) {
                threads.emplace_back([&, i] {
                    while (!go.load()) {
                    }
                    seen[i] = theLogger();
                });
            }
            go = true;
            for (auto& t : threads) t.join();
            bool same = seen[0] != nullptr && seen[0]->Inited();
            for (CKrLogger* p : seen) same = same && p == seen[0];
            std::exit(same ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ProcessLogger, FreshLoggerHasNoOutputAndDefaultSwitches)
{
    CKrLogger* logger = theLogger();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger, theLogger());
    EXPECT_TRUE(logger->Inited());
    EXPECT_EQ(logger->GetLogOutput(), nullptr);
    EXPECT_EQ(getProductVersion(), getProductVersion());
    EXPECT_STREQ(getProductVersion(), "Krynex version 12.8.0801.3003 [krerrlog.dll in common]");
}

TEST(LoggerLifecycle, SwitchesAndCopiesOfTexts)
{
    std::unique_ptr<CKrLogger> logger(CKrLoggerTestPeer::Create());
    EXPECT_FALSE(logger->ShouldUseLocalTime());
    EXPECT_FALSE(logger->IsTagEnabled());
    EXPECT_EQ(logger->GetExecutionTimeThreshold(), 0);
    std::string tag = "first";
    logger->SetLogTag(tag);
    tag[0] = 'X';
    EXPECT_EQ(logger->GetLogTag(), "first");
    logger->SetLogName("named");
    EXPECT_EQ(logger->GetLogName(), "named");
    logger->UseLocalTime(true);
    logger->EnableTag(true);
    logger->SetExecutionTimeThreshold(250);
    EXPECT_TRUE(logger->ShouldUseLocalTime());
    EXPECT_TRUE(logger->IsTagEnabled());
    EXPECT_EQ(logger->GetExecutionTimeThreshold(), 250);
}

TEST(LoggerLifecycle, InitTwiceChangesNothingAndReleaseTwiceIsHarmless)
{
    std::unique_ptr<CKrLogger> logger(CKrLoggerTestPeer::Create());
    ASSERT_TRUE(logger->Inited());
    const unsigned long traceKey = CKrLoggerTestPeer::TraceKey(*logger);
    const unsigned long memoryKey = CKrLoggerTestPeer::InMemoryTraceKey(*logger);
    EXPECT_NE(traceKey, krerrlog::kThreadKeyNotAllocated);
    EXPECT_NE(memoryKey, krerrlog::kThreadKeyNotAllocated);
    EXPECT_NE(traceKey, memoryKey);
    EXPECT_EQ(CKrLoggerTestPeer::ComponentCount(*logger), 26);

    CKrLoggerTestPeer::Init(*logger);
    EXPECT_EQ(CKrLoggerTestPeer::TraceKey(*logger), traceKey);
    EXPECT_EQ(CKrLoggerTestPeer::InMemoryTraceKey(*logger), memoryKey);

    CKrLoggerTestPeer::Release(*logger);
    EXPECT_FALSE(logger->Inited());
    EXPECT_EQ(CKrLoggerTestPeer::TraceKey(*logger), krerrlog::kThreadKeyNotAllocated);
    EXPECT_EQ(CKrLoggerTestPeer::InMemoryTraceKey(*logger), krerrlog::kThreadKeyNotAllocated);
    CKrLoggerTestPeer::Release(*logger);
    EXPECT_FALSE(logger->Inited());

    // The process-wide logger is untouched by another logger's release.
    EXPECT_TRUE(theLogger()->Inited());
}

TEST(LoggerLifecycle, ReleaseKeepsTheThreadsErrorCode)
{
    std::unique_ptr<CKrLogger> logger(CKrLoggerTestPeer::Create());
    errno = EXDEV;
    CKrLoggerTestPeer::Release(*logger);
    EXPECT_EQ(errno, EXDEV);
    errno = 0;
    logger.reset();
    EXPECT_EQ(errno, 0);
}

TEST(LoggerLifecycleThreads, LoggersMadeAndReleasedOnManyThreads)
{
    // Each logger allocates and frees its own keys; none may be handed out twice.
    std::vector<std::thread> threads;
    std::atomic<bool> clash{false};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                std::unique_ptr<CKrLogger> logger(CKrLoggerTestPeer::Create());
                if (CKrLoggerTestPeer::TraceKey(*logger) == CKrLoggerTestPeer::InMemoryTraceKey(*logger)) clash = true;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_FALSE(clash.load());
    EXPECT_TRUE(theLogger()->Inited());
}
