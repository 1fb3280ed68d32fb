// The logger object: the process-wide instance, Init and Release.
#include <krerrlog/logger/CKrErrLogComponent.h>
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/support/internal/KrThreadKey.h>

#include "testsupport/LoggerTestPeer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
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

// Hosts keep the pointer: every call, on any thread, hands out the same text.
TEST(ProcessLogger, ProductVersionIsOneTextForEveryCaller)
{
    const char* first = getProductVersion();
    const char* onOtherThread = nullptr;
    std::thread([&onOtherThread] { onOtherThread = getProductVersion(); }).join();
    EXPECT_EQ(getProductVersion(), first);
    EXPECT_EQ(onOtherThread, first);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::strncmp(first, "Krynex version ", 15), 0) << first;
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

    for (int release = 0; release < 2; ++release) {
        CKrLoggerTestPeer::Release(*logger);
        EXPECT_FALSE(logger->Inited());
        EXPECT_EQ(CKrLoggerTestPeer::TraceKey(*logger), krerrlog::kThreadKeyNotAllocated);
        EXPECT_EQ(CKrLoggerTestPeer::InMemoryTraceKey(*logger), krerrlog::kThreadKeyNotAllocated);
    }

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
    // Each logger allocates and frees its own keys and loads the component
    // libraries; no release unloads what the process-wide logger still serves.
    theLogger();
    std::vector<std::thread> threads;
    std::vector<int> good(6, 0);
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &good] {
            for (int round = 0; round < 5; ++round) {
                std::unique_ptr<CKrLogger> logger(CKrLoggerTestPeer::Create());
                const char* key = logger->FetchMsg(0x0200C003);
                good[t] += key && std::strcmp(key, "krtest-open-failed") == 0 &&
                           CKrLoggerTestPeer::TraceKey(*logger) != CKrLoggerTestPeer::InMemoryTraceKey(*logger);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 6; ++t) EXPECT_EQ(5, good[t]) << "thread " << t;
    EXPECT_TRUE(theLogger()->Inited());
    EXPECT_STREQ("krtest-open-failed", theLogger()->FetchMsg(0x0200C003));
    ASSERT_NE(nullptr, CKrLoggerTestPeer::Slot(*theLogger(), 1)->m_pLibrary);
}
