// Many threads through one rolling file output, and the roll-over lock's
// ordering guarantees.
#include "OutputTestSupport.h"
#include "testsupport/TestFiles.h"

#include <krerrlog/output/CFileRolloverLock.h>
#include <krerrlog/support/KrFileOps.h>

#include <cerrno>
#include <functional>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <regex>
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

struct RunResult {
    std::vector<std::string> files;
    std::map<std::string, int> seen;  // line -> times found
    int torn = 0;
};

// Logs kThreads x kLinesPerThread distinct lines of varied length through one
// mode-3 output with a small limit, then reads back every file of the folder.
RunResult LogFromThreads(ScratchDir& dir, int backupCount, const std::function<void()>& beforeThreads = {})
{
    const std::string name = dir.File("error.log");
    CKrFileOutput output;
    EXPECT_TRUE(output.SetParams(name.c_str(), 3, 1, backupCount));
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
                // Lengths vary so that a torn or interleaved line cannot look whole.
                std::string text = "T" + std::to_string(t) + " L" + std::to_string(i) + " " +
                                   std::string(static_cast<size_t>(20 + (i * 7 + t) % 90), 'a' + t) + "\n";
                krtest::SetText(message, text);
                output.Log(message);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    output.Close();

    RunResult result;
    const std::regex wellFormed("T([0-9]) L([0-9]+) ([a-z])+");
    for (const std::string& entry : dir.List()) {
        result.files.push_back(entry);
        const std::string content = ReadFile(dir.File(entry));
        EXPECT_TRUE(content.empty() || content.back() == '\n') << entry << " ends inside a line";
        std::vector<std::string> lines = krtest::SplitLines(content);
        EXPECT_GE(lines.size(), 2u) << entry;
        if (lines.size() >= 2) {
            EXPECT_EQ(lines[0], kHeaderOne) << entry << " must start with its headers";
            EXPECT_EQ(lines[1], kHeaderTwo) << entry << " must start with its headers";
        }
        for (size_t i = 2; i < lines.size(); ++i) {
            std::smatch parts;
            const std::string& line = lines[i];
            if (!std::regex_match(line, parts, wellFormed)) {
                ++result.torn;
                continue;
            }
            const int t = std::stoi(parts[1]);
            const int n = std::stoi(parts[2]);
            const size_t padding = line.size() - line.find(' ', line.find(' ') + 1) - 1;
            if (padding != static_cast<size_t>(20 + (n * 7 + t) % 90) || parts[3].str()[0] != 'a' + t) {
                ++result.torn;
                continue;
            }
            ++result.seen[line.substr(0, line.find(' ', line.find(' ') + 1))];
        }
    }
    return result;
}

int CountMissing(const RunResult& result, int* repeated)
{
    int missing = 0;
    *repeated = 0;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kLinesPerThread; ++i) {
            const auto found = result.seen.find("T" + std::to_string(t) + " L" + std::to_string(i));
            if (found == result.seen.end()) {
                ++missing;
            } else if (found->second != 1) {
                ++*repeated;
            }
        }
    }
    return missing;
}

TEST(FileOutputThreads, EveryLineExactlyOnceAcrossRolloversWithHeaders)
{
    ScratchDir dir;
    RunResult result = LogFromThreads(dir, 0);
    EXPECT_GE(result.files.size(), 5u) << "the test must roll over several times";
    EXPECT_EQ(result.torn, 0);
    int repeated = 0;
    EXPECT_EQ(CountMissing(result, &repeated), 0);
    EXPECT_EQ(repeated, 0);
    EXPECT_EQ(result.seen.size(), static_cast<size_t>(kThreads * kLinesPerThread));
}

TEST(FileOutputThreads, RefusedRenamesAndFailingWritesLoseOnlyTheFailedLines)
{
    ScratchDir dir;
    RunResult result = LogFromThreads(dir, 0, [] {
        krerrlog::InjectFileFault(krerrlog::FileOp::Rename, EACCES, 2);
        krerrlog::InjectFileFault(krerrlog::FileOp::Write, EIO, 3);
    });
    krerrlog::ClearFileFaults();
    EXPECT_GE(result.files.size(), 3u) << "roll-overs went on after the refused renames";
    EXPECT_EQ(result.torn, 0);
    int repeated = 0;
    EXPECT_EQ(CountMissing(result, &repeated), 3) << "exactly the three failed writes";
    EXPECT_EQ(repeated, 0);
}

TEST(FileOutputThreads, AtMostBackupCountBackupsRemainAndEachIsWhole)
{
    ScratchDir dir;
    RunResult result = LogFromThreads(dir, 3);
    EXPECT_LE(result.files.size(), 4u) << "three backups and the log";
    EXPECT_GE(result.files.size(), 2u);
    EXPECT_EQ(result.torn, 0);
    for (const auto& [line, times] : result.seen) EXPECT_EQ(times, 1) << line;
}

// ---- The roll-over lock ----

TEST(RolloverLockThreads, ReadersShareAndAWriterExcludesThem)
{
    CFileRolloverLock lock;
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};
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
                    const int now = inside.fetch_add(1) + 1;
                    int seen = mostInside.load();
                    while (now > seen && !mostInside.compare_exchange_weak(seen, now)) {
                    }
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

using RolloverLockDeathTest = ::testing::Test;

TEST(RolloverLockDeathTest, HoldsAreNotReentrant)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            CFileRolloverLock lock;
            lock.AcquireShared();
            lock.AcquireShared();
        },
        "");
    EXPECT_DEATH(
        {
            CFileRolloverLock lock;
            lock.AcquireShared();
            lock.AcquireExclusive();
        },
        "");
    EXPECT_DEATH(
        {
            CFileRolloverLock lock;
            lock.ReleaseExclusive();
        },
        "");
}

}  // namespace
