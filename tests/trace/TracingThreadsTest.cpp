// Tracing from many threads: reconfiguration under load, short-lived threads
// and the pool, a named logger removed while threads hold its records.
#include "TracingTestSupport.h"

#include <krerrlog/trace/internal/KrTraceRecordPool.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace krtest;
using namespace std::chrono_literals;
using Peer = CKrLoggerTestPeer;

namespace {

krerrlog::TraceRecordPool& Pool() { return krerrlog::TraceRecordPool::Instance(); }

TEST(TracingThreads, ReconfiguredSwitchedOffAndInMemoryToggledWhileThreadsTrace)
{
    TraceScene scene;
    TracesOffAtEnd off;
    CKrLogger& logger = *theLogger();
    const std::string configs[] = {scene.Config("a", "data: User, Message\n"),
                                   scene.Config("b", "data: Message, User\n")};
    const int formats[] = {2, 0};
    ASSERT_TRUE(logger.EnableTrace(scene.File("t.log"), 2, ";", configs[0].c_str(), false, false, false));

    constexpr int kWorkers = 4;
    std::atomic<int> started{0};
    std::atomic<bool> stop{false};
    ASSERT_TRUE(FinishesWithin(240s, [&] {
        std::vector<std::thread> workers;
        for (int w = 0; w < kWorkers; ++w) {
            workers.emplace_back([&] {
                for (int i = 0; !stop.load(); ++i) {
                    TracedCall(scene.selected, "alice", i);
                    TracedCall(scene.unselected, "bob", i);
                    if (i == 0) started.fetch_add(1);
                }
            });
        }
        WaitUntilCountReaches(started, kWorkers);
        int lastVersion = Peer::TraceConfigVersion(logger);
        for (int round = 1; round <= 60; ++round) {
            const int which = round % 2;
            if (round % 7 == 0) logger.DisableTrace(false);
            EXPECT_TRUE(logger.EnableTrace(scene.File("t.log"), formats[which], ";", configs[which].c_str(), false,
                                           false, false));
            const int version = Peer::TraceConfigVersion(logger);
            EXPECT_GT(version, lastVersion) << "versions must only grow";
            lastVersion = version;
            if (round % 3 == 0) {
                logger.DisableInMemoryTrace();
            } else {
                logger.EnableInMemoryTrace(logger.NewLogOutput(0, 1), configs[which].c_str(), false, false);
            }
            std::this_thread::sleep_for(1ms);
        }
        stop = true;
        for (auto& t : workers) t.join();
    }));

    // Every line whole and in the layout of one of the two configurations.
    auto digitsBetween = [](const std::string& text, const std::string& before, const std::string& after) {
        if (text.size() <= before.size() + after.size() || text.compare(0, before.size(), before) != 0 ||
            text.compare(text.size() - after.size(), after.size(), after) != 0) {
            return false;
        }
        const std::string digits = text.substr(before.size(), text.size() - before.size() - after.size());
        return digits.find_first_not_of("0123456789") == std::string::npos;
    };
    const std::string headers[] = {"User;Message", "====;=======", "[Message][User]", "[=======][====]"};
    int traced = 0;
    for (const std::string& text : SplitLines(scene.Read("t.log"))) {
        if (text.empty()) continue;
        const bool header = std::find(std::begin(headers), std::end(headers), text) != std::end(headers);
        EXPECT_TRUE(header || digitsBetween(text, "alice;n=", "") || digitsBetween(text, "[n=", "][alice]")) << text;
        traced += text.find("alice") != std::string::npos ? 1 : 0;
    }
    EXPECT_GT(traced, 0);
}

TEST(TracingThreads, ShortLivedThreadsReuseThePoolEntries)
{
    TraceScene scene;
    TracesOffAtEnd off;
    ASSERT_TRUE(theLogger()->EnableTrace(scene.File("t.log"), 2, ";", scene.Config("c", "data: Message\n").c_str(),
                                         false, false, false));
    ASSERT_TRUE(theLogger()->EnableInMemoryTrace(theLogger()->NewLogOutput(0, 1), scene.dir.File("c").c_str(),
                                                 false, false));
    TracedCall(scene.selected, "main", 0);  // the main thread's entries are taken before counting
    const int entriesBefore = Pool().EntryCount();
    constexpr int kBatches = 30, kPerBatch = 10;  // 300 threads, at most 10 alive at once
    ASSERT_TRUE(FinishesWithin(240s, [&] {
        for (int b = 0; b < kBatches; ++b) {
            std::vector<std::thread> batch;
            for (int t = 0; t < kPerBatch; ++t) batch.emplace_back([&, t] { TracedCall(scene.selected, "x", t); });
            for (auto& t : batch) t.join();
        }
    }));
    // Each batch needs 20 entries (file and in-memory): the pool grows at
    // most by one step, however many threads came and went.
    EXPECT_LE(Pool().EntryCount(), entriesBefore + krerrlog::TraceRecordPool::kGrowth);
    EXPECT_EQ(Pool().EntryCount() % krerrlog::TraceRecordPool::kGrowth, 0);
    EXPECT_GE(Pool().FreeEntryCount(), 2 * kPerBatch);
    EXPECT_EQ(SplitLines(scene.Read("t.log")).size(), 2u + 1 + kBatches * kPerBatch);
}

TEST(TracingThreads, NamedLoggerRemovedWhileThreadsHoldItsRecords)
{
    TraceScene scene;
    TracesOffAtEnd off;
    ASSERT_TRUE(theLogger()->EnableTrace(scene.File("main.log"), 2, ";",
                                         scene.Config("c", "data: User, Message\n").c_str(), false, false, false));
    CKrLogger* named = getMyLogger("tracing-threads");
    ASSERT_NE(named, nullptr);
    const unsigned int component = ComponentId(*named, "Log/Legacy");
    ASSERT_TRUE(named->EnableTrace(named->NewLogOutput(1, scene.dir.File("named.log").c_str(), 1, 64, 1), 2, ";",
                                   scene.dir.File("c").c_str(), false, false, false));

    constexpr int kThreads = 4;
    std::atomic<int> holding{0};
    std::atomic<bool> removed{false};
    ASSERT_TRUE(FinishesWithin(120s, [&] {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                CKrTraceData* record = nullptr;
                EXPECT_TRUE(named->ShouldTraceAlloc(component, &record));
                if (record) {
                    record->SetFieldValue(9u, "alice", true);
                    record->SetFieldValue(0u, "named", true);
                    record->Format();
                    EXPECT_TRUE(record->Log());
                    record->CleanUpData();
                }
                holding.fetch_add(1);
                while (!removed.load()) std::this_thread::sleep_for(1ms);
                // Still alive after the removal: this thread's next record
                // comes from the process-wide logger and names no gone logger.
                TracedCall(scene.selected, "after", 1);
                CKrTraceData* own = theLogger()->GetLocalKrTraceData();
                EXPECT_TRUE(own && own->GetLogger() == theLogger());
            });
        }
        WaitUntilCountReaches(holding, kThreads);
        EXPECT_TRUE(removeMyLogger("tracing-threads"));
        removed = true;
        for (auto& t : threads) t.join();
    }));
    std::string expected = "User;Message\n====;=======\n";
    for (int i = 0; i < kThreads; ++i) expected += "alice;named\n";
    EXPECT_EQ(scene.Read("named.log"), expected);
    EXPECT_EQ(SplitLines(scene.Read("main.log")).size(), 2u + kThreads);
    // Every entry the ended threads held, for either logger, is free again.
    EXPECT_GE(Pool().FreeEntryCount(), 2 * kThreads);
}

}  // namespace
