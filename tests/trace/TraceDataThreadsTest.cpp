// Per-thread copies keep tracing while the master they were refreshed from is
// replaced and deleted, as the logger does when a new configuration is
// installed: the master is swapped under the writer lock and deleted at once,
// while other threads are in the middle of a trace call on their copies.
#include "TraceDataTestPeer.h"
#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

using namespace krtest;
using Peer = CKrTraceDataTestPeer;

namespace {

// The installed configuration and the lock it is replaced under.
struct Installed {
    std::shared_mutex lock;
    CKrTraceData* master = nullptr;
};

std::string ConfigurationText(int generation)
{
    // Every generation has its own delimiter, selection and filter texts, so a
    // copy that read freed memory would produce a line of no generation.
    const std::string g = std::to_string(generation);
    return "components: " + std::string(generation % 2 ? "Server" : "Agent") +
           "\ndata: User, Realm, Message\nUser @@user\nRealm ==realm" + g + "\n";
}

}  // namespace

TEST(TraceDataThreads, CopiesOutliveReplacedMasters)
{
    TraceTables tables;
    krtest::ScratchDir dir;
    Installed installed;
    int version = 0;

    auto makeMaster = [&](int generation) {
        const std::string path = dir.File("g" + std::to_string(generation) + ".conf");
        krtest::WriteFile(path, ConfigurationText(generation));
        auto* master = new CKrTraceData;
        const std::string delimiter = "<" + std::to_string(generation) + ">";
        EXPECT_TRUE(Peer::SetConfiguration(*master, 2, delimiter.c_str(), path.c_str(), tables.ComponentCount(),
                                           tables.Components(), tables.Fields(), false));
        Peer::SetVersion(*master, ++version);
        return master;
    };
    installed.master = makeMaster(0);

    constexpr int kThreads = 4;
    constexpr int kGenerations = 60;
    std::atomic<bool> stop{false};
    std::atomic<long> lines{0};
    std::atomic<int> wrongLines{0};
    std::atomic<int> threadsThatTraced{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CKrTraceData copy;
            const std::string user = "user" + std::to_string(t);
            bool traced = false;
            while (!stop.load()) {
                int generation = -1;
                {
                    std::shared_lock<std::shared_mutex> reader(installed.lock);
                    if (copy.GetVersion() < installed.master->GetVersion()) Peer::Refresh(copy, *installed.master);
                    generation = copy.GetVersion() - 1;
                }
                // The trace call runs without the lock, on the copy alone.
                const std::string realm = "realm" + std::to_string(generation);
                const bool selected = copy.ComponentSelected(generation % 2 ? krtest::kServer : krtest::kAgent);
                const bool passes = copy.SetFieldValue(kUser, user.c_str(), true) &&
                                    copy.SetFieldValue(kRealm, realm.c_str(), true) &&
                                    !copy.SetFieldValue(kRealm, "realm-other", true);
                copy.SetFieldValue(kRealm, realm.c_str(), true);
                copy.SetFieldValue(kMessage, copy.FormatTraceMessage("line of %s", user.c_str()), false);
                copy.Format();
                const std::string d = "<" + std::to_string(generation) + ">";
                const std::string expected = user + d + realm + d + "line of " + user + "\n";
                if (!selected || !passes || expected != copy.GetFormattedTraceMessage()) ++wrongLines;
                copy.CleanUpData();
                ++lines;
                if (!traced) threadsThatTraced.fetch_add(1);
                traced = true;
            }
        });
    }
    krtest::WaitUntilCountReaches(threadsThatTraced, kThreads);

    for (int generation = 1; generation <= kGenerations; ++generation) {
        CKrTraceData* next = makeMaster(generation);
        CKrTraceData* old = nullptr;
        {
            std::unique_lock<std::shared_mutex> writer(installed.lock);
            old = installed.master;
            installed.master = next;
        }
        delete old;  // copies may still be formatting with its texts
        std::this_thread::yield();
    }
    stop = true;
    for (std::thread& thread : threads) thread.join();
    delete installed.master;

    EXPECT_GT(lines.load(), 0);
    EXPECT_EQ(0, wrongLines.load());
}

TEST(TraceDataThreads, ManyCopiesOfOneMasterReleasedInAnyOrder)
{
    TraceTables tables;
    auto config = krtest::ReadConfiguration(tables, "components: Agent\ndata: User\nUser ==u\n", 2, ",");
    ASSERT_TRUE(config.read);
    std::vector<std::unique_ptr<CKrTraceData>> copies(8);
    for (auto& copy : copies) {
        copy = std::make_unique<CKrTraceData>();
        Peer::Refresh(*copy, *config.record);
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (auto& copy : copies) {
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
