// The writers-first reader-writer guards, with real threads. Every scenario
// runs under a watchdog so a deadlock fails the test instead of hanging it.
#include <krerrlog/support/KrErrLogGuard.h>

#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

class CKrGuardTestPeer {
public:
    static int WaitingReaders(CKrGuard& g) { return Read(g, g.m_iWaitingReaders); }
    static int WaitingWriters(CKrGuard& g) { return Read(g, g.m_iWaitingWriters); }
    static int Active(CKrGuard& g) { return Read(g, g.m_iActive); }
    static CKrGuard& State(CKrErrLogGuard& g) { return *g.m_pState; }

private:
    static int Read(CKrGuard& g, int& field)
    {
        g.m_section.Enter();
        const int value = field;
        g.m_section.Leave();
        return value;
    }
};

namespace {

using Peer = CKrGuardTestPeer;

// Polls until the condition holds; false after five seconds.
template <typename Condition>
bool Eventually(Condition condition)
{
    for (int i = 0; i < 5000 && !condition(); ++i) std::this_thread::sleep_for(1ms);
    return condition();
}

// The scenarios below run for CKrGuard and CKrErrLogGuard (same algorithm, other storage).
template <typename Guard>
void ReaderQueuesBehindWaitingWriter(Guard& guard, CKrGuard& state)
{
    for (int i = 0; i < 3; ++i) guard.LockForRead();
    EXPECT_EQ(Peer::Active(state), 3);
    std::atomic<bool> writerIn{false}, fourthIn{false};
    std::thread writer([&] {
        guard.LockForWrite();
        writerIn = true;
        std::this_thread::sleep_for(20ms);  // the fourth reader must stay outside meanwhile
        EXPECT_FALSE(fourthIn.load());
        guard.Unlock();
    });
    ASSERT_TRUE(Eventually([&] { return Peer::WaitingWriters(state) == 1; }));
    std::thread fourth([&] {
        guard.LockForRead();
        fourthIn = true;
        EXPECT_TRUE(writerIn.load());
        guard.Unlock();
    });
    ASSERT_TRUE(Eventually([&] { return Peer::WaitingReaders(state) == 1; }));
    EXPECT_FALSE(fourthIn.load());
    guard.Unlock();
    guard.Unlock();
    EXPECT_FALSE(writerIn.load()) << "a writer entered while a reader was inside";
    guard.Unlock();
    writer.join();
    fourth.join();
    EXPECT_TRUE(fourthIn.load());
    EXPECT_EQ(Peer::Active(state), 0);
}

template <typename Guard>
void WritersBeforeQueuedReaders(Guard& guard, CKrGuard& state)
{
    guard.LockForRead();
    std::atomic<int> writersInside{0}, writersDone{0}, readersIn{0};
    std::atomic<bool> overlap{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&] {
            guard.LockForWrite();
            if (writersInside.fetch_add(1) != 0) overlap = true;
            std::this_thread::sleep_for(10ms);
            writersInside.fetch_sub(1);
            writersDone.fetch_add(1);
            guard.Unlock();
        });
    }
    ASSERT_TRUE(Eventually([&] { return Peer::WaitingWriters(state) == 2; }));
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&] {
            guard.LockForRead();
            EXPECT_EQ(writersDone.load(), 2) << "a queued reader overtook a waiting writer";
            readersIn.fetch_add(1);
            guard.Unlock();
        });
    }
    ASSERT_TRUE(Eventually([&] { return Peer::WaitingReaders(state) == 3; }));
    guard.Unlock();  // the last reader leaves: exactly one writer enters
    for (auto& t : threads) t.join();
    EXPECT_FALSE(overlap.load()) << "two writers were inside at once";
    EXPECT_EQ(readersIn.load(), 3);
    EXPECT_EQ(Peer::Active(state), 0);
}

template <typename Guard>
void ExclusionUnderLoad(Guard& guard)
{
    std::atomic<int> readers{0}, writers{0};
    std::atomic<bool> broken{false};
    long long shared = 0;  // written only under the write hold
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const bool write = (i + t) % 5 == 0;
                write ? guard.LockForWrite() : guard.LockForRead();
                std::atomic<int>& mine = write ? writers : readers;
                mine.fetch_add(1);
                if (writers.load() != (write ? 1 : 0) || (write && readers.load() != 0)) broken = true;
                if (write) {
                    ++shared;
                } else {
                    volatile long long seen = shared;  // a data race here if exclusion fails
                    (void)seen;
                }
                mine.fetch_sub(1);
                guard.Unlock();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_FALSE(broken.load());
    EXPECT_EQ(shared, 6 * 2000 / 5);
}

template <typename Guard>
void AllScenarios(Guard& guard, CKrGuard& state)
{
    krtest::FinishesWithin(10s, [&] { ReaderQueuesBehindWaitingWriter(guard, state); });
    krtest::FinishesWithin(10s, [&] { WritersBeforeQueuedReaders(guard, state); });
    krtest::FinishesWithin(60s, [&] { ExclusionUnderLoad(guard); });
}

TEST(GuardThreads, WritersGoFirstAndNeverOverlapWithReaders)
{
    CKrGuard guard;
    AllScenarios(guard, guard);
}

TEST(GuardThreads, HeapGuardFollowsTheSameRules)
{
    CKrErrLogGuard guard;
    AllScenarios(guard, Peer::State(guard));
}

TEST(GuardThreads, ScopedHoldersReleaseWhatTheyTook)
{
    CKrErrLogGuard guard;
    CKrGuard& state = Peer::State(guard);
    {
        CKrErrLogAutoReader first(&guard);
        CKrErrLogAutoReader second;
        second.InitReadLockWithCKrErrLogGuard(&guard);
        EXPECT_EQ(Peer::Active(state), 2);
    }
    EXPECT_EQ(Peer::Active(state), 0);
    {
        CKrErrLogAutoWriter writer;
        EXPECT_EQ(Peer::Active(state), 0);  // an empty holder takes nothing
        writer.InitWriteLockWithCKrErrLogGuard(&guard);
        EXPECT_EQ(Peer::Active(state), -1);
    }
    // A writer blocked behind a scoped reader gets in when the scope ends.
    krtest::FinishesWithin(10s, [&] {
        std::thread writer;
        {
            CKrErrLogAutoReader reader(&guard);
            writer = std::thread([&] { CKrErrLogAutoWriter w(&guard); });
            ASSERT_TRUE(Eventually([&] { return Peer::WaitingWriters(state) == 1; }));
        }
        writer.join();
    });
    EXPECT_EQ(Peer::Active(state), 0);
}

}  // namespace
