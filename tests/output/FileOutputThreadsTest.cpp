// Many threads through one rolling file output, and the roll-over lock's
// ordering guarantees.
#include "OutputTestSupport.h"

#include <krerrlog/output/CFileRolloverLock.h>
#include <krerrlog/support/KrFileOps.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using krerrlog::CFileRolloverLock;
using krtest::ReadFile;
using krtest::ScratchDir;

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
    std::map<std::string, int> seen;  // whole line -> times found
    int torn = 0;

    int Missing() const
    {
        int missing = 0;
        for (int t = 0; t < kThreads; ++t) {
            for (int i = 0; i < kLinesPerThread; ++i) missing += seen.count(ThreadLine(t, i)) == 0;
        }
        return missing;
    }
    int Repeated() const
    {
        return static_cast<int>(std::count_if(seen.begin(), seen.end(), [](const auto& s) { return s.second != 1; }));
    }
};

// Logs kThreads x kLinesPerThread distinct lines through one mode-3 output
// with a small limit, then reads back every file of the folder: each must
// start with the headers and hold whole lines only.
RunResult LogFromThreads(int backupCount, const std::function<void()>& beforeThreads = {})
{
    ScratchDir dir;
    CKrFileOutput output;
    EXPECT_TRUE(output.SetParams(dir.File("error.log").c_str(), 3, 1, backupCount));
    CKrFileOutputTestPeer::SetSizeLimitBytes(output, 32 * 1024);
    EXPECT_TRUE(output.Open());
    {
        CKrErrLogMessage first(false);
        CKrErrLogMessage second(false);
        krtest::SetText(first, kHeaderOne + "\n");
        krtest::SetText(second, kHeaderTwo + "\n");
        output.SetHeaders(first, second);
        // The first file gets its headers the way the logger gives them: logged.
        output.Log(first);
        output.Log(second);
    }
    if (beforeThreads) beforeThreads();

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&output, t] {
            CKrErrLogMessage message(false);
            for (int i = 0; i < kLinesPerThread; ++i) {
                krtest::SetText(message, ThreadLine(t, i) + "\n");
                output.Log(message);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    output.Close();
    krerrlog::ClearFileFaults();

    RunResult result;
    for (const std::string& entry : dir.List()) {
        ++result.files;
        const std::string content = ReadFile(dir.File(entry));
        EXPECT_TRUE(content.empty() || content.back() == '\n') << entry << " ends inside a line";
        std::vector<std::string> lines = krtest::SplitLines(content);
        if (lines.size() < 2) {
            ADD_FAILURE() << entry << " lacks its headers";
            continue;
        }
        EXPECT_EQ(lines[0], kHeaderOne) << entry << " must start with its headers";
        EXPECT_EQ(lines[1], kHeaderTwo) << entry << " must start with its headers";
        for (size_t i = 2; i < lines.size(); ++i) {
            int t = -1, n = -1;
            if (std::sscanf(lines[i].c_str(), "T%d L%d", &t, &n) == 2 && lines[i] == ThreadLine(t, n)) {
                ++result.seen[lines[i]];
            } else {
                ++result.torn;
            }
        }
    }
    return result;
}

TEST(FileOutputThreads, EveryLineExactlyOnceAcrossRolloversWithHeaders)
{
    RunResult result = LogFromThreads(0);
    EXPECT_GE(result.files, 5u) << "the test must roll over several times";
    EXPECT_EQ(result.torn, 0);
    EXPECT_EQ(result.Missing(), 0);
    EXPECT_EQ(result.Repeated(), 0);
}

TEST(FileOutputThreads, RefusedRenamesAndFailingWritesLoseOnlyTheFailedLines)
{
    RunResult result = LogFromThreads(0, [] {
        krerrlog::InjectFileFault(krerrlog::FileOp::Rename, EACCES, 2);
        krerrlog::InjectFileFault(krerrlog::FileOp::Write, EIO, 3);
    });
    EXPECT_GE(result.files, 3u) << "roll-overs went on after the refused renames";
    EXPECT_EQ(result.torn, 0);
    EXPECT_EQ(result.Missing(), 3) << "exactly the three failed writes";
    EXPECT_EQ(result.Repeated(), 0);
}

TEST(FileOutputThreads, AtMostBackupCountBackupsRemainAndEachIsWhole)
{
    RunResult result = LogFromThreads(3);
    EXPECT_LE(result.files, 4u) << "three backups and the log";
    EXPECT_GE(result.files, 2u);
    EXPECT_EQ(result.torn, 0);
    EXPECT_EQ(result.Repeated(), 0);
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
    EXPECT_EQ(lock.Readers(), 0);
    EXPECT_EQ(lock.Writers(), 0);
    EXPECT_EQ(lock.Waiting(), 0);
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

TEST(RolloverLockThreads, WaitersAreServedInArrivalOrderAndAWriterIsNotOvertaken)
{
    CFileRolloverLock lock;
    std::mutex orderMutex;
    std::vector<std::string> order;
    auto note = [&](const std::string& who) {
        std::lock_guard<std::mutex> hold(orderMutex);
        order.push_back(who);
    };

    lock.AcquireShared();  // a reader holds
    std::thread writer([&] {
        krerrlog::ExclusiveRollover hold(lock);
        note("writer");
    });
    AwaitWaiting(lock, 1);
    // A reader arriving after the writer waits behind it although only readers hold.
    std::thread lateReader([&] {
        krerrlog::SharedRollover hold(lock);
        note("late reader");
    });
    AwaitWaiting(lock, 2);
    std::thread secondWriter([&] {
        krerrlog::ExclusiveRollover hold(lock);
        note("second writer");
    });
    AwaitWaiting(lock, 3);
    EXPECT_EQ(lock.Readers(), 1);
    {
        std::lock_guard<std::mutex> hold(orderMutex);
        EXPECT_TRUE(order.empty());
    }
    lock.ReleaseShared();
    writer.join();
    lateReader.join();
    secondWriter.join();
    EXPECT_EQ(order, (std::vector<std::string>{"writer", "late reader", "second writer"}));
}

TEST(RolloverLockThreads, QueuedReadersComeInTogether)
{
    CFileRolloverLock lock;
    lock.AcquireExclusive();
    std::atomic<int> inside{0};
    std::atomic<bool> release{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            krerrlog::SharedRollover hold(lock);
            inside.fetch_add(1);
            while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    }
    AwaitWaiting(lock, 3);
    lock.ReleaseExclusive();
    const bool allInside = krtest::FinishesWithin(std::chrono::seconds(10), [&] {
        while (inside.load() != 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    EXPECT_TRUE(allInside) << "all three readers hold at once";
    EXPECT_EQ(lock.Readers(), 3);
    release = true;
    for (auto& reader : readers) reader.join();
}

TEST(RolloverLockDeathTest, HoldsAreNotReentrant)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    using Misuse = void (*)(CFileRolloverLock&);
    for (Misuse misuse : {Misuse{[](CFileRolloverLock& lock) { lock.AcquireShared(), lock.AcquireShared(); }},
                          Misuse{[](CFileRolloverLock& lock) { lock.AcquireShared(), lock.AcquireExclusive(); }},
                          Misuse{[](CFileRolloverLock& lock) { lock.ReleaseExclusive(); }}}) {
        EXPECT_DEATH(
            {
                CFileRolloverLock lock;
                misuse(lock);
            },
            "");
    }
}

}  // namespace
