// The writers-first reader-writer guards, with real threads. Every scenario
// runs under a watchdog so a deadlock fails the test instead of hanging it.
#include <krerrlog/support/KrErrLogGuard.h>
#include <krerrlog/support/internal/KrReaderSlots.h>

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
    // Readers are counted in the reader slots; -1 while a writer holds the guard.
    static int Active(CKrGuard& g) { return Read(g, g.m_iActive) < 0 ? -1 : g.ReadersInside(); }
    // As when memory for the slots ran out: readers count in one shared counter.
    static void DropReaderSlots(CKrGuard& g)
    {
        delete g.m_pReaderSlots;
        g.m_pReaderSlots = nullptr;
    }
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

// Polls until the condition holds; false after a minute (a loaded machine
// under a sanitizer may take long to start a thread).
template <typename Condition>
bool Eventually(Condition condition)
{
    for (int i = 0; i < 60000 && !condition(); ++i) std::this_thread::sleep_for(1ms);
    return condition();
}

// Three readers inside, two writers waiting, three more readers queued behind
// them: no writer enters before the last reader leaves, the writers enter one
// at a time, and the queued readers only after both.
void WritersGoBeforeQueuedReaders(CKrGuard& guard)
{
    for (int i = 0; i < 3; ++i) guard.LockForRead();
    EXPECT_EQ(Peer::Active(guard), 3);
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
    ASSERT_TRUE(Eventually([&] { return Peer::WaitingWriters(guard) == 2; }));
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&] {
            guard.LockForRead();
            EXPECT_EQ(writersDone.load(), 2) << "a queued reader overtook a waiting writer";
            readersIn.fetch_add(1);
            guard.Unlock();
        });
    }
    ASSERT_TRUE(Eventually([&] { return Peer::WaitingReaders(guard) == 3; }));
    guard.Unlock();
    guard.Unlock();
    EXPECT_EQ(writersInside.load() + writersDone.load(), 0) << "a writer entered while a reader was inside";
    guard.Unlock();  // the last reader leaves: exactly one writer enters
    for (auto& t : threads) t.join();
    EXPECT_FALSE(overlap.load()) << "two writers were inside at once";
    EXPECT_EQ(readersIn.load(), 3);
    EXPECT_EQ(Peer::Active(guard), 0);
}

void ExclusionUnderLoad(CKrGuard& guard)
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

TEST(GuardThreads, WritersGoFirstAndNeverOverlapWithReaders)
{
    for (const bool withSlots : {true, false}) {
        SCOPED_TRACE(withSlots ? "reader slots" : "no memory for reader slots");
        CKrGuard guard;
        if (!withSlots) Peer::DropReaderSlots(guard);
        krtest::FinishesWithin(150s, [&] { WritersGoBeforeQueuedReaders(guard); });
        krtest::FinishesWithin(60s, [&] { ExclusionUnderLoad(guard); });
    }
}

// More readers at once than there are reader slots (the rest share a fenced
// one), twice over so that the slots of ended threads are reused: a writer
// still waits for every one of them.
TEST(GuardThreads, WriterWaitsForMoreReadersThanThereAreSlots)
{
    CKrGuard guard;
    for (int round = 0; round < 2; ++round) {
        constexpr int kReaders = 80;
        std::atomic<int> inside{0}, arrived{0};
        std::atomic<bool> leave{false}, writerSawAReader{false};
        krtest::FinishesWithin(120s, [&] {
            std::vector<std::thread> readers;
            for (int r = 0; r < kReaders; ++r) {
                readers.emplace_back([&] {
                    guard.LockForRead();
                    inside.fetch_add(1);
                    arrived.fetch_add(1);
                    while (!leave.load()) std::this_thread::sleep_for(1ms);
                    inside.fetch_sub(1);
                    guard.Unlock();
                });
            }
            krtest::WaitUntilCountReaches(arrived, kReaders);
            std::thread writer([&] {
                guard.LockForWrite();
                if (inside.load() != 0) writerSawAReader = true;
                guard.Unlock();
            });
            ASSERT_TRUE(Eventually([&] { return Peer::WaitingWriters(guard) == 1; }));
            leave = true;
            writer.join();
            for (auto& t : readers) t.join();
        });
        EXPECT_FALSE(writerSawAReader.load()) << "round " << round;
        EXPECT_EQ(Peer::Active(guard), 0);
    }
}

// CKrErrLogGuard only forwards to a CKrGuard on the heap: check the wiring.
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
    EXPECT_EQ(Peer::Active(state), 0);
}

}  // namespace
