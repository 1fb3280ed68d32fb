// Many threads storing into one in-memory trace area while it wraps, is
// dumped and is switched off.
#include "InMemoryTestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

using SlowCopy = krerrlog::InMemoryTraceAreaTestPeer;
using namespace krtest;
using namespace std::chrono_literals;

namespace {

constexpr int kThreads = 4;
constexpr int kLinesPerThread = 20000;  // about 10 MB: the 1 MB area wraps about ten times
const std::string kFirstHeader = "thread|line|text|\n";
const std::string kSecondHeader = "\n";

using InMemoryOutputThreads = InMemoryTest;

// Runs kThreads threads storing distinct lines into a 1 MB area with headers;
// duringStores runs meanwhile on the calling thread.
template <typename Body>
void StoreFromThreads(CKrInMemoryOutput& output, Body duringStores)
{
    GiveHeaders(output, kFirstHeader, kSecondHeader);
    std::atomic<int> started{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CKrErrLogMessage message(false);
            ++started;
            for (int i = 0; i < kLinesPerThread; ++i) {
                SetText(message, ThreadTraceLine(t, i));
                if (!output.Log(message)) ++refused;
            }
        });
    }
    WaitUntilCountReaches(started, kThreads);
    duringStores();
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(refused.load(), 0);
    EXPECT_TRUE(Area().Wrapped());
}

TEST_F(InMemoryOutputThreads, AfterManyWrapsTheDumpHoldsTheNewestLinesWholeInOrderWithoutGaps)
{
    CKrInMemoryOutput output;
    OpenSmallArea(output);
    StoreFromThreads(output, [] {});
    output.DumpTrace();
    const std::string dump = TakeOnlyDump();
    const std::string headers = kFirstHeader + kSecondHeader;
    // The headers and the whole area; the zeroed rest is shorter than the line that wrapped.
    EXPECT_EQ(dump.size(), headers.size() + 1000001);
    EXPECT_LT(std::count(dump.begin(), dump.end(), '\0'), 200);
    const DumpCheck check = CheckWrappedDump(dump, headers);
    EXPECT_EQ(check.torn, 0);
    EXPECT_EQ(check.outOfOrder, 0);
    EXPECT_EQ(check.gaps, 0);
    // The newest line of the area is the last one stored: some thread's last line.
    int lastOfThreads = 0;
    for (int t = 0; t < kThreads; ++t) {
        const std::string line = ThreadTraceLine(t, kLinesPerThread - 1);
        if (dump.size() >= line.size() && dump.compare(dump.size() - line.size(), line.size(), line) == 0) {
            ++lastOfThreads;
        }
    }
    EXPECT_EQ(lastOfThreads, 1) << "the dump must end with the last line stored";
    EXPECT_TRUE(output.Close());
}

TEST_F(InMemoryOutputThreads, DumpsTakenWhileThreadsStoreHoldWholeLinesOnly)
{
    CKrInMemoryOutput output;
    OpenSmallArea(output);
    int dumps = 0;
    StoreFromThreads(output, [&] {
        for (int round = 0; dumps < 5 && round < 5000; ++round) {
            if (!Area().Wrapped()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            EXPECT_TRUE(krerrlog::WriteInMemoryTrace(krerrlog::kDumpOnRequest));
            ++dumps;
            // One file per second: check each before the next replaces it.
            const DumpCheck check = CheckWrappedDump(TakeOnlyDump(), kFirstHeader + kSecondHeader);
            EXPECT_EQ(check.torn, 0) << "dump " << dumps;
            EXPECT_EQ(check.outOfOrder, 0) << "dump " << dumps;
        }
    });
    EXPECT_GT(dumps, 0) << "the area never wrapped while the threads stored";
    EXPECT_TRUE(output.Close());
}

// Runs body on another thread; true when it is still running after a while
// (it is blocked), false when it returned at once.
class Blocked {
public:
    explicit Blocked(std::function<void()> body) : m_result(std::async(std::launch::async, std::move(body))) {}
    bool StillRunning() { return m_result.wait_for(std::chrono::milliseconds(150)) == std::future_status::timeout; }
    bool FinishesSoon() { return m_result.wait_for(std::chrono::seconds(30)) == std::future_status::ready; }

private:
    std::future<void> m_result;
};

TEST_F(InMemoryOutputThreads, TheNextLapWaitsForASlowCopyOfThePreviousOne)
{
    CKrInMemoryOutput output;
    OpenSmallArea(output);
    const std::string slow = "slow line " + std::string(989, 's') + "\n";
    SlowCopy copy(slow);
    ASSERT_EQ(copy.Place(), Area().Area());
    const std::string rest(1000001 - slow.size(), 'r');
    ASSERT_TRUE(output.Log(rest.data(), static_cast<int>(rest.size())));  // fills the area exactly

    const std::string wrapping = "next lap " + std::string(490, 'w') + "\n";
    Blocked store([&] { EXPECT_TRUE(output.Log(wrapping.data(), static_cast<int>(wrapping.size()))); });
    EXPECT_TRUE(store.StillRunning()) << "the wrap went on over a copy still in progress";
    copy.Finish();
    ASSERT_TRUE(store.FinishesSoon());

    output.DumpTrace();
    EXPECT_EQ(TakeOnlyDump(), slow.substr(wrapping.size()) + rest + wrapping);
}

TEST_F(InMemoryOutputThreads, SwitchingOffAndDumpingWaitForCopiesAndSwitchingOffForDumps)
{
    CKrInMemoryOutput output;
    OpenSmallArea(output);
    const std::string slow = "slow line\n";
    {
        SlowCopy copy(slow);
        ASSERT_NE(copy.Place(), nullptr);
        Blocked dump([&] { output.DumpTrace(); });
        EXPECT_TRUE(dump.StillRunning()) << "the dump read the area under a copy";
        EXPECT_TRUE(output.Log("dropped\n", 8)) << "dropped, reported as stored, while a dump waits";
        copy.Finish();
        ASSERT_TRUE(dump.FinishesSoon());
        EXPECT_EQ(TakeOnlyDump(), slow);
    }
    {
        SlowCopy copy(slow);
        ASSERT_NE(copy.Place(), nullptr);
        Blocked close([&] { EXPECT_TRUE(output.Close()); });
        EXPECT_TRUE(close.StillRunning()) << "the area was freed under a copy";
        EXPECT_TRUE(output.Log("dropped\n", 8)) << "dropped once the switch-off began";
        copy.Finish();  // into memory that must still be there
        ASSERT_TRUE(close.FinishesSoon());
        EXPECT_EQ(Area().Area(), nullptr);
    }
    // A switch-off also waits for a dump that is still writing the area out:
    // 20 MB take a while to write, and the switch-off is waiting to begin.
    ASSERT_TRUE(output.SetParams(20));
    ASSERT_TRUE(output.Open());
    constexpr uint64_t kDumped = 20000000;
    krerrlog::InMemoryTraceAreaTestPeer::SetOffset(kDumped - slow.size());
    {
        SlowCopy copy(slow);
        ASSERT_NE(copy.Place(), nullptr);
        Blocked dump([&] { output.DumpTrace(); });
        ASSERT_TRUE(dump.StillRunning());
        Blocked close([&] { EXPECT_TRUE(output.Close()); });
        copy.Finish();
        ASSERT_TRUE(dump.FinishesSoon());
        ASSERT_TRUE(close.FinishesSoon());
        const std::string dumped = TakeOnlyDump();
        EXPECT_EQ(dumped.size(), kDumped) << "the area was freed under the dump";
        EXPECT_EQ(dumped.substr(dumped.size() - std::min(dumped.size(), slow.size())), slow);
    }
}

// A crashing thread may itself be in the middle of a copy: its dump waits a
// moment only and writes what the area holds.
TEST_F(InMemoryOutputThreads, ACrashDumpDoesNotWaitForeverForACopy)
{
    CKrInMemoryOutput output;
    OpenSmallArea(output);
    ASSERT_TRUE(output.Log("before\n", 7));
    SlowCopy copy("never");
    ASSERT_NE(copy.Place(), nullptr);
    EXPECT_TRUE(FinishesWithin(std::chrono::seconds(20),
                               [] { EXPECT_TRUE(krerrlog::WriteInMemoryTrace(krerrlog::kDumpAtCrash)); }));
    EXPECT_EQ(TakeOnlyDump(), "\nLast Lines of Trace Log:\n\nbefore\n" + std::string(5, '\0'));
}

// Switching off while threads store must wait for the copies in progress:
// freeing the area under one is a use after free (AddressSanitizer, and a
// race under ThreadSanitizer). Large messages make the copies long.
TEST_F(InMemoryOutputThreads, SwitchingOffWhileThreadsStoreNeverFreesTheAreaUnderACopy)
{
    const std::string big(256 * 1024, 'm');
    CKrInMemoryOutput output;
    ASSERT_TRUE(output.SetParams(1));
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(output.Open());
        std::atomic<int> stored{0};
        std::atomic<bool> stop{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                while (!stop) {
                    if (output.Log(big.data(), static_cast<int>(big.size()))) ++stored;
                }
            });
        }
        WaitUntilCountReaches(stored, kThreads * 4);
        EXPECT_TRUE(FinishesWithin(std::chrono::seconds(30), [&] { EXPECT_TRUE(output.Close()); }));
        EXPECT_EQ(Area().Area(), nullptr);
        EXPECT_FALSE(output.Log(big.data(), static_cast<int>(big.size()))) << "no area after the switch-off";
        stop = true;
        for (auto& thread : threads) thread.join();
    }
}

}  // namespace

// A reader of the dump prefix keeps a text that another thread's new prefix
// cannot change or free under it.
TEST_F(InMemoryOutputThreads, TheDumpPrefixIsReadWhileAnotherThreadSetsIt)
{
    CKrInMemoryOutput output;
    const std::string paths[] = {"/tmp/short/", "/tmp/" + std::string(300, 'p') + "/"};
    output.SetInMemoryTraceFilePath(paths[0].c_str());
    std::atomic<int> started{0};
    std::atomic<bool> stop{false};
    int unknown = 0;
    FinishesWithin(120s, [&] {
        std::thread setter([&] {
            ++started;
            for (int i = 0; !stop.load(); ++i) output.SetInMemoryTraceFilePath(paths[i % 2].c_str());
        });
        WaitUntilCountReaches(started, 1);
        for (int i = 0; i < 20000; ++i) {
            const char* prefix = output.GetInMemoryTraceFilePath();
            const std::string seen = prefix ? prefix : "(null)";  // read after the call returned
            if (seen != paths[0] && seen != paths[1]) ++unknown;
        }
        stop = true;
        setter.join();
    });
    EXPECT_EQ(unknown, 0) << "a prefix changed under its reader";
}

std::atomic<int> g_allocations{0};
std::atomic<bool> g_winnerDone{false};

// Two outputs switch on at once: the one that allocated first publishes last
// (it is held between its allocation and publishing) and must join the other's
// area without wiping the header lines set on it meanwhile.
TEST_F(InMemoryOutputThreads, TheLoserOfTwoSwitchOnsKeepsTheWinnersHeaders)
{
    g_allocations = 0;
    g_winnerDone = false;
    krerrlog::SetTraceAreaAfterAllocationHook([] {
        if (g_allocations.fetch_add(1) != 0) return;
        while (!g_winnerDone.load()) std::this_thread::sleep_for(1ms);
    });
    CKrInMemoryOutput loser, winner;
    ASSERT_TRUE(winner.SetParams(1));
    FinishesWithin(60s, [&] {
        std::thread late([&] { EXPECT_TRUE(loser.Open()); });
        while (g_allocations.load() == 0) std::this_thread::sleep_for(1ms);
        EXPECT_TRUE(winner.Open());
        GiveHeaders(winner, kFirstHeader, kSecondHeader);
        g_winnerDone = true;
        late.join();
    });
    krerrlog::SetTraceAreaAfterAllocationHook(nullptr);
    ASSERT_EQ(loser.EnableMemoryLogging(), winner.EnableMemoryLogging()) << "one area, shared";

    // Wrap the area so that a dump carries the headers.
    winner.SetInMemoryTraceFilePath((m_dir.Path() + "/").c_str());
    krerrlog::InMemoryTraceAreaTestPeer::SetOffset(Area().AllocationSize() - 4);
    ASSERT_TRUE(winner.Log("wrapped line\n", 13));
    winner.DumpTrace();
    const std::string dump = TakeOnlyDump();
    EXPECT_EQ(dump.substr(0, kFirstHeader.size() + kSecondHeader.size()), kFirstHeader + kSecondHeader);
}
