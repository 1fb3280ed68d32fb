// Named loggers: the registry, the process-wide one and its free functions.
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/logger/CKrLoggerList.h>

#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(LoggerList, NamesAreCaseSensitiveAndEachLoggerIsWholeAndNamed)
{
    CKrLoggerList list;
    EXPECT_TRUE(list.RemoveLogger("A")) << "nothing was ever added";
    EXPECT_EQ(list.GetLogger("A"), nullptr);
    for (const char* bad : {static_cast<const char*>(nullptr), ""}) {
        EXPECT_EQ(list.AddLogger(bad), nullptr);
        EXPECT_EQ(list.GetLogger(bad), nullptr);
    }
    EXPECT_TRUE(list.RemoveLogger("A")) << "refused names created nothing";

    CKrLogger* upper = list.AddLogger("A");
    ASSERT_NE(upper, nullptr);
    EXPECT_EQ(list.AddLogger("A"), upper);
    EXPECT_EQ(list.GetLogger("A"), upper);
    CKrLogger* lower = list.AddLogger("a");
    ASSERT_NE(lower, nullptr);
    EXPECT_NE(lower, upper);
    EXPECT_EQ(upper->GetLogName(), "A");
    EXPECT_EQ(lower->GetLogName(), "a");
    EXPECT_TRUE(upper->Inited());
    EXPECT_NE(upper, theLogger());

    std::string name = "B";
    CKrLogger* b = list.AddLogger(name.c_str());
    name = "Z";  // the registry keeps its own copy of the name
    EXPECT_EQ(list.GetLogger("B"), b);
    EXPECT_EQ(list.GetLogger("Z"), nullptr);

    EXPECT_FALSE(list.RemoveLogger("C"));
    EXPECT_FALSE(list.RemoveLogger(nullptr));
    EXPECT_TRUE(list.RemoveLogger("A"));
    EXPECT_EQ(list.GetLogger("A"), nullptr);
    EXPECT_EQ(list.GetLogger("a"), lower) << "removing one name leaves the others";
    // The list deletes "a" and "B" when it goes (a leak shows under ASan).
}

TEST(LoggerList, ProcessRegistryThroughTheFreeFunctions)
{
    ASSERT_NE(theLoggerList(), nullptr);
    EXPECT_EQ(theLoggerList(), theLoggerList());
    EXPECT_EQ(getMyLogger(nullptr), nullptr);
    EXPECT_EQ(getMyLogger(""), nullptr);

    CKrLogger* first = getMyLogger("service");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(getMyLogger("service"), first);
    first->SetLogTag("old");
    EXPECT_FALSE(removeMyLogger("other"));
    EXPECT_TRUE(removeMyLogger("service"));
    CKrLogger* again = getMyLogger("service");
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->Inited());
    EXPECT_EQ(again->GetLogTag(), "") << "a name removed and asked for again gets a fresh logger";
    EXPECT_EQ(again->GetLogName(), "service");
    EXPECT_TRUE(removeMyLogger("service"));
}

// Threads asking for the same new names at once all get one logger per name,
// while others remove and re-add another name and look names up.
TEST(LoggerListThreads, OneLoggerPerNameWhateverTheRace)
{
    CKrLoggerList list;
    constexpr int kThreads = 8;
    constexpr int kNames = 20;
    std::vector<std::vector<CKrLogger*>> got(kThreads, std::vector<CKrLogger*>(kNames, nullptr));
    std::atomic<bool> go{false};
    std::thread churn([&] {
        while (!go.load()) std::this_thread::yield();
        for (int round = 0; round < 30; ++round) {
            if (!list.AddLogger("churn")) ADD_FAILURE() << "churn logger not made";
            if (!list.RemoveLogger("churn")) ADD_FAILURE() << "churn logger not registered";
        }
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int n = 0; n < kNames; ++n) {
                const std::string name = "name" + std::to_string((n + t) % kNames);
                got[t][(n + t) % kNames] = list.AddLogger(name.c_str());
                list.GetLogger("churn");  // may be there or not; must not crash
            }
        });
    }
    const bool finished = krtest::FinishesWithin(std::chrono::seconds(120), [&] {
        go = true;
        for (auto& thread : threads) thread.join();
        churn.join();
    });
    ASSERT_TRUE(finished);
    std::set<CKrLogger*> distinct;
    for (int n = 0; n < kNames; ++n) {
        ASSERT_NE(got[0][n], nullptr);
        for (int t = 1; t < kThreads; ++t) EXPECT_EQ(got[t][n], got[0][n]) << "name" << n;
        EXPECT_EQ(list.GetLogger(("name" + std::to_string(n)).c_str()), got[0][n]);
        distinct.insert(got[0][n]);
    }
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kNames));
    EXPECT_EQ(list.GetLogger("churn"), nullptr);
}

}  // namespace
