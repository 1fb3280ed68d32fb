// Per-thread copies keep tracing while the master they were refreshed from is
// replaced and deleted, as the logger does when a new configuration is
// installed: the master is swapped under the writer lock and deleted at once,
// while other threads are in the middle of a trace call on their copies.
#include "TraceDataTestPeer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

using namespace krtest;
using Peer = CKrTraceDataTestPeer;

TEST(TraceDataThreads, CopiesOutliveReplacedMasters)
{
    TraceTables tables;
    ScratchDir dir;
    std::shared_mutex lock;
    // Every generation has its own delimiter, selection and filter texts, so a
    // copy that read freed memory would produce a line of no generation.
    auto makeMaster = [&](int generation) {
        const std::string g = std::to_string(generation), path = dir.File("g" + g + ".conf");
        WriteFile(path, "components: " + std::string(generation % 2 ? "Server" : "Agent") +
                            "\ndata: User, Realm, Message\nUser @@user\nRealm ==realm" + g + "\n");
        auto* master = new CKrTraceData;
        EXPECT_TRUE(Peer::SetConfiguration(*master, 2, ("<" + g + ">").c_str(), path.c_str(), tables.ComponentCount(),
                                           tables.Components(), tables.Fields(), false));
        Peer::SetVersion(*master, generation + 1);
        return master;
    };
    CKrTraceData* installed = makeMaster(0);

    constexpr int kThreads = 4;
    std::atomic<bool> stop{false};
    std::atomic<int> wrongLines{0}, threadsThatTraced{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CKrTraceData copy;
            const std::string user = "user" + std::to_string(t);
            for (bool traced = false; !stop.load(); traced = true) {
                {
                    std::shared_lock<std::shared_mutex> reader(lock);
                    if (copy.GetVersion() < installed->GetVersion()) Peer::Refresh(copy, *installed);
                }
                // The trace call runs without the lock, on the copy alone.
                const int generation = copy.GetVersion() - 1;
                const std::string realm = "realm" + std::to_string(generation);
                const std::string d = "<" + std::to_string(generation) + ">";
                const bool selected = copy.ComponentSelected(generation % 2 ? kServer : kAgent);
                const bool passes = copy.SetFieldValue(kUser, user.c_str(), true) &&
                                    copy.SetFieldValue(kRealm, realm.c_str(), true) &&
                                    !copy.SetFieldValue(kRealm, "realm-other", true);
                copy.SetFieldValue(kRealm, realm.c_str(), true);
                copy.SetFieldValue(kMessage, copy.FormatTraceMessage("line of %s", user.c_str()), false);
                copy.Format();
                if (!selected || !passes || user + d + realm + d + "line of " + user + "\n" !=
                                                copy.GetFormattedTraceMessage())
                    ++wrongLines;
                copy.CleanUpData();
                if (!traced) ++threadsThatTraced;
            }
        });
    }
    WaitUntilCountReaches(threadsThatTraced, kThreads);
    for (int generation = 1; generation <= 60; ++generation) {
        CKrTraceData* old = makeMaster(generation);
        {
            std::unique_lock<std::shared_mutex> writer(lock);
            std::swap(old, installed);
        }
        delete old;  // copies may still be formatting with its texts
        std::this_thread::yield();
    }
    stop = true;
    for (std::thread& thread : threads) thread.join();
    delete installed;
    EXPECT_EQ(0, wrongLines.load());
}

TEST(TraceDataThreads, ManyCopiesOfOneMasterReleasedInAnyOrder)
{
    TraceTables tables;
    auto config = ReadConfiguration(tables, "components: Agent\ndata: User\nUser ==u\n", 2, ",");
    ASSERT_TRUE(config.read);
    std::vector<std::unique_ptr<CKrTraceData>> copies(8);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (auto& copy : copies) {
        copy = std::make_unique<CKrTraceData>();
        Peer::Refresh(*copy, *config.record);
        threads.emplace_back([&failures, record = copy.get()] {
            for (int i = 0; i < 2000; ++i) {
                if (!record->SetFieldValue(kUser, "u", true) || record->SetFieldValue(kUser, "v", true)) ++failures;
                record->CleanUpData();
            }
        });
    }
    config.record.reset();
    // Copies end on their own threads; the last one frees the configuration.
    for (size_t i = 0; i < threads.size(); ++i) {
        threads[i].join();
        copies[i].reset();
    }
    EXPECT_EQ(0, failures.load());
}
