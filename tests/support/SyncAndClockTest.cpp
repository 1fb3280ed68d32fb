// Critical sections, semaphores and the exported clock.
#include <krerrlog/support/KrErrLogClock.h>
#include <krerrlog/support/KrErrLogCriticalSection.h>
#include <krerrlog/support/KrErrLogSemaphore.h>
#include <krerrlog/support/platform/KrPlatformClock.h>

#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

TEST(CriticalSectionThreads, OwnerMayEnterAgainAndOthersAreExcluded)
{
    CKrErrLogCriticalSection section;
    krtest::FinishesWithin(10s, [&] {
        CKrErrLogPrivAutoCS outer(section);
        CKrErrLogPrivAutoCS inner(section);  // re-entry by the owner must not block
        std::atomic<bool> otherIn{false};
        std::thread other([&] {
            CKrErrLogPrivAutoCS hold(section);
            otherIn = true;
        });
        std::this_thread::sleep_for(20ms);
        EXPECT_FALSE(otherIn.load());
        section.Leave();  // leave both holds early, then re-take them for the scoped holders
        section.Leave();
        other.join();
        EXPECT_TRUE(otherIn.load());
        section.Enter();
        section.Enter();
    });
}

TEST(CriticalSectionThreads, HeapSectionCountsIncrementsExactly)
{
    CKrErrLogCS section;
    long long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                CKrErrLogAutoCS hold(section);
                ++counter;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 40000);
}

// Takes counts without waiting until none is left: how many, or -1 on a failed wait.
int Drain(CKrErrLogSemaphore& semaphore)
{
    int taken = 0, result;
    while ((result = semaphore.Wait(0)) == 0) ++taken;
    return result == 1 ? taken : -1;
}

TEST(Semaphore, CountsTimeOutsMaximumAndMissingHandles)
{
    CKrErrLogSemaphore semaphore(0, 2, true);
    EXPECT_EQ(semaphore.Wait(20), 1);
    semaphore.Release(2);
    EXPECT_TRUE(semaphore.Test());
    EXPECT_EQ(Drain(semaphore), 1);
    EXPECT_FALSE(semaphore.Test());
    semaphore.Release(3);  // beyond the maximum: adds nothing
    EXPECT_EQ(Drain(semaphore), 0);
    semaphore.Release(2);
    semaphore.Release(1);
    EXPECT_EQ(Drain(semaphore), 2);

    // Init refuses a second semaphore and keeps the first, with its count.
    CKrErrLogSemaphore created(1, 5, true);
    EXPECT_FALSE(created.Init(0, 5));
    EXPECT_EQ(Drain(created), 1);
    // No handle: a failure, not a time-out; a maximum of 0 cannot be created.
    CKrErrLogSemaphore empty;
    EXPECT_EQ(empty.Wait(0), -1);
    EXPECT_FALSE(empty.Test());
    EXPECT_TRUE(empty.Init(0, 1));
    EXPECT_EQ(Drain(empty), 0);
    CKrErrLogSemaphore refused(0, 0, true);
    EXPECT_EQ(refused.Wait(0), -1);
}

// Every time the clock cannot count to means "without limit": none may turn
// into a negative or overflowing time-out that returns at once.
TEST(SemaphoreThreads, ReleaseWakesWaitersWhoseTimeIsBeyondTheClock)
{
    const std::vector<unsigned long> forever = {
        0xFFFFFFFFul, static_cast<unsigned long>(-1), ULONG_MAX / 2 + 1, ULONG_MAX / 2,
        9300000000000ul,  // about 9.3e12 ms: more nanoseconds than a 64-bit count holds
        ULONG_MAX / 1000 + 1};
    CKrErrLogSemaphore semaphore(0, 100, true);
    krtest::FinishesWithin(30s, [&] {
        std::atomic<int> started{0}, woken{0};
        std::vector<std::thread> waiters;
        for (unsigned long milliseconds : forever) {
            waiters.emplace_back([&, milliseconds] {
                started.fetch_add(1);
                EXPECT_EQ(semaphore.Wait(milliseconds), 0) << milliseconds << " ms";
                woken.fetch_add(1);
            });
        }
        krtest::WaitUntilCountReaches(started, static_cast<int>(forever.size()));
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(woken.load(), 0) << "a waiter gave up although its time has no end";
        semaphore.Release(static_cast<long>(forever.size()));
        for (auto& t : waiters) t.join();
        EXPECT_EQ(woken.load(), static_cast<int>(forever.size()));
    });
    // Times the clock can count still run out.
    EXPECT_EQ(semaphore.Wait(1), 1);
}

long long g_fixedMilliseconds = 0;

// year, month, day, hour, minute, second, weekday, year day, summer time, milliseconds
std::vector<long> ReadAt(long long ms, bool local)
{
    g_fixedMilliseconds = ms;
    krerrlog::SetClockSource([] { return g_fixedMilliseconds; });
    tm t;
    std::memset(&t, 0x7f, sizeof t);
    long msOut = -1;
    EXPECT_TRUE(KrErrLogGetCurrentTime(local, t, msOut));
    krerrlog::SetClockSource(nullptr);
    return {t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday, t.tm_yday, t.tm_isdst, msOut};
}

TEST(Clock, FixedReadingsInUtcAndLocalTime)
{
    // 2025-12-31 23:59:59.999 UTC, a Wednesday; one millisecond later the
    // cached split of the previous second must not be reused.
    EXPECT_EQ(ReadAt(1767225599999LL, false), (std::vector<long>{125, 11, 31, 23, 59, 59, 3, 0, 0, 999}));
    EXPECT_EQ(ReadAt(1767225600000LL, false), (std::vector<long>{126, 0, 1, 0, 0, 0, 4, 0, 0, 0}));

    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC-02:30", 1);  // 2 h 30 min east of UTC
    tzset();
    // 2024-03-05 13:45:12.345 UTC
    EXPECT_EQ(ReadAt(1709646312345LL, true), (std::vector<long>{124, 2, 5, 16, 15, 12, 2, 0, 0, 345}));
    old ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
}

TEST(Clock, RealClockAgreesWithTheSystem)
{
    tm out{};
    long ms = -1;
    const time_t before = time(nullptr);
    KrErrLogGetCurrentTime(false, out, ms);
    const time_t after = time(nullptr);
    const time_t read = timegm(&out);
    EXPECT_GE(read, before);
    EXPECT_LE(read, after);
    EXPECT_GE(ms, 0);
    EXPECT_LT(ms, 1000);
}

}  // namespace
