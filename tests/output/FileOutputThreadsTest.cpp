// Many threads through one rolling file output, and the roll-over lock's
// ordering guarantees.
#include "OutputTestSupport.h"

#include <krerrlog/output/internal/CFileRolloverLock.h>
#include <krerrlog/support/internal/KrFileOps.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <pthread.h>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

using krerrlog::CFileRolloverLock;
using namespace krtest;

namespace {

constexpr int kThreads = 4;
constexpr int kLinesPerThread = 5000;
const std::string kHeaderOne = "#HEADER one: process 1 started";
const std::string kHeaderTwo = "#HEADER two: fields time text";

// Lengths vary so that a torn or interleaved line cannot look whole.
std::string ThreadLine(int t, int i)
{
    return "T" + std::to_string(t) + " L" + std::to_string(i) + " " +
           std::string(static_cast<size_t>(20 + (i * 7 + t) % 90), static_cast<char>('a' + t));
}

struct RunResult {
    size_t files = 0;
    int torn = 0, missing = 0, repeated = 0;
};

// Interrupts a logging thread; installed without SA_RESTART, so that a
// blocking call in progress returns early.
std::atomic<int> interruptions{0};
void Interrupt(int) { interruptions.fetch_add(1, std::memory_order_relaxed); }
constexpr int kInterruptions = 100;

// Logs kThreads x kLinesPerThread distinct lines through one mode-3 output
// with a small limit, then reads back every file of the folder: each must
// start with the headers and hold whole lines only. With signals, another
// thread keeps interrupting the logging threads meanwhile.
RunResult LogFromThreads(int backupCount, bool failSomeRenamesAndWrites, bool signals = false)
{
    ScratchDir dir;
    CKrFileOutput output;
    EXPECT_TRUE(output.SetParams(dir.File("error.log").c_str(), 3, 1, backupCount));
    CKrFileOutputTestPeer::SetSizeLimitBytes(output, 32 * 1024);
    EXPECT_TRUE(output.Open());
    SetHeaders(output, kHeaderOne, kHeaderTwo, true);
    if (failSomeRenamesAndWrites) {
        krerrlog::InjectFileFault(krerrlog::FileOp::Rename, EACCES, 2);
        krerrlog::InjectFileFault(krerrlog::FileOp::Write, EIO, 3);
    }
    interruptions = 0;
    std::vector<std::thread> threads;
    std::atomic<int> started{0}, finished{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++started;
            CKrErrLogMessage message(false);
            for (int i = 0; i < kLinesPerThread; ++i) {
                // With signals, the lines keep pace with them: however fast the
                // machine, the interruptions spread over the whole run.
                while (signals && interruptions.load() < kInterruptions * i / kLinesPerThread) {
                    std::this_thread::yield();
                }
                SetText(message, ThreadLine(t, i) + "\n");
                output.Log(message);
            }
            ++finished;
        });
    }
    if (signals) {
        struct sigaction action{};
        action.sa_handler = &Interrupt;
        sigaction(SIGUSR1, &action, nullptr);
        WaitUntilCountReaches(started, kThreads);
        while (finished.load() < kThreads) {
            for (auto& thread : threads) pthread_kill(thread.native_handle(), SIGUSR1);
            std::this_thread::yield();
        }
        EXPECT_GE(interruptions.load(), kInterruptions * (kLinesPerThread - 1) / kLinesPerThread);
    }
    for (auto& thread : threads) thread.join();
    output.Close();
    krerrlog::ClearFileFaults();

    RunResult result;
    std::map<std::string, int> seen;
    for (const std::string& entry : dir.List()) {
        ++result.files;
        const std::string content = ReadFile(dir.File(entry));
        EXPECT_TRUE(content.empty() || content.back() == '\n') << entry << " ends inside a line";
        Names lines = SplitLines(content);
        lines.resize(std::max<size_t>(lines.size(), 2));
        EXPECT_EQ(lines[0], kHeaderOne) << entry << " must start with its headers";
        EXPECT_EQ(lines[1], kHeaderTwo) << entry << " must start with its headers";
        for (size_t i = 2; i < lines.size(); ++i) {
            int t = -1, n = -1;
            const bool whole = std::sscanf(lines[i].c_str(), "T%d L%d", &t, &n) == 2 && lines[i] == ThreadLine(t, n);
            whole ? ++seen[lines[i]] : ++result.torn;
        }
    }
    for (const auto& line : seen) result.repeated += line.second != 1;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kLinesPerThread; ++i) result.missing += seen.count(ThreadLine(t, i)) == 0;
    }
    return result;
}

TEST(FileOutputThreads, EveryLineWholeAndOnceAcrossRolloversFaultsSignalsAndPruning)
{
    const struct {
        int backups;
        bool faults;
        size_t minFiles, maxFiles;
        int missing;  // -1: lines in pruned backups are gone
        bool signals;
    } runs[] = {
        {0, false, 5, 100, 0, false},  // several roll-overs, every line exactly once
        {0, false, 5, 100, 0, true},   // the same with a stream of signals at the logging threads
        {0, true, 3, 100, 3, false},   // roll-overs go on after refused renames; only the failed writes are lost
        {3, false, 2, 4, -1, false},   // three backups and the log at most
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(&run - runs);
        const RunResult result = LogFromThreads(run.backups, run.faults, run.signals);
        EXPECT_GE(result.files, run.minFiles);
        EXPECT_LE(result.files, run.maxFiles);
        EXPECT_EQ(result.torn, 0);
        EXPECT_EQ(result.repeated, 0);
        EXPECT_EQ(run.missing < 0 ? -1 : result.missing, run.missing);
    }
}

// ---- The roll-over lock ----

TEST(RolloverLockThreads, AWriterExcludesEveryoneElse)
{
    CFileRolloverLock lock;
    std::atomic<int> inside{0};
    std::atomic<bool> writerSawOthers{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                if ((i + t) % 50 == 0) {
                    krerrlog::ExclusiveRollover hold(lock);
                    if (inside.fetch_add(1) != 0) writerSawOthers = true;
                    inside.fetch_sub(1);
                } else {
                    krerrlog::SharedRollover hold(lock);
                    inside.fetch_add(1);
                    inside.fetch_sub(1);
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_FALSE(writerSawOthers.load());
    EXPECT_EQ(std::make_tuple(lock.Readers(), lock.Writers(), lock.Waiting()), std::make_tuple(0, 0, 0));
}

// Waits until the lock has the given number of queued threads.
void AwaitWaiting(CFileRolloverLock& lock, int count)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (lock.Waiting() != count && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(lock.Waiting(), count);
}

TEST(RolloverLockThreads, WaitersAreServedInArrivalOrderQueuedReadersTogetherAndNoWriterOvertaken)
{
    CFileRolloverLock lock;
    std::mutex orderMutex;
    Names order;
    std::atomic<int> readersInside{0};
    std::vector<std::thread> threads;
    auto queue = [&](bool exclusive, const char* who) {
        threads.emplace_back([&, exclusive, who] {
            exclusive ? lock.AcquireExclusive() : lock.AcquireShared();
            {
                std::lock_guard<std::mutex> hold(orderMutex);
                order.push_back(who);
            }
            if (!exclusive) {
                ++readersInside;
                WaitUntilCountReaches(readersInside, 3);  // never reached unless all three hold at once
            }
            exclusive ? lock.ReleaseExclusive() : lock.ReleaseShared();
        });
        AwaitWaiting(lock, static_cast<int>(threads.size()));
    };

    lock.AcquireShared();  // a reader holds
    queue(true, "writer");
    // Readers arriving after the writer wait behind it although only readers hold.
    for (int i = 0; i < 3; ++i) queue(false, "reader");
    queue(true, "second writer");
    EXPECT_EQ(lock.Readers(), 1);
    {
        std::lock_guard<std::mutex> hold(orderMutex);
        EXPECT_TRUE(order.empty());
    }
    lock.ReleaseShared();
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(order, (Names{"writer", "reader", "reader", "reader", "second writer"}));
}

// Misuse is a programming error that stops the process at once.
TEST(RolloverLockDeathTest, HoldsAreNotReentrant)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    CFileRolloverLock lock;  // each death runs in a child: the parent's lock stays free
    EXPECT_DEATH((lock.AcquireShared(), lock.AcquireShared()), "");
    EXPECT_DEATH((lock.AcquireShared(), lock.AcquireExclusive()), "");
    EXPECT_DEATH(lock.ReleaseExclusive(), "");
}

}  // namespace
