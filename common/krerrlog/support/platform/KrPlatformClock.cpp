#include <krerrlog/support/platform/KrPlatformClock.h>

#include <atomic>
#include <ctime>

namespace krerrlog {

namespace {

std::atomic<ClockSource> g_clockSource{nullptr};  // release/acquire: a test's clock, set before use

long long RealClock()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Floor division, so instants before 1970 split correctly as well.
long long FloorDiv(long long value, long long divisor)
{
    long long q = value / divisor;
    if ((value % divisor != 0) && ((value < 0) != (divisor < 0))) --q;
    return q;
}

struct SplitCache {
    long long second = -1;
    bool valid = false;
    std::tm parts{};
};

}  // namespace

long long SystemClockSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec);
}

long long MonotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

long LocalOffsetSeconds(long long epochSeconds)
{
    const time_t t = static_cast<time_t>(epochSeconds);
    std::tm parts{};
    localtime_r(&t, &parts);
    return parts.tm_gmtoff;
}

long long NowEpochMilliseconds()
{
    ClockSource source = g_clockSource.load(std::memory_order_acquire);
    return source ? source() : RealClock();
}

CalendarTime ToCalendarTime(long long epochMilliseconds, bool localTime)
{
    thread_local SplitCache caches[2];
    long long second = FloorDiv(epochMilliseconds, 1000);
    SplitCache& cache = caches[localTime ? 1 : 0];
    if (!cache.valid || cache.second != second) {
        time_t t = static_cast<time_t>(second);
        std::tm parts{};
        if (localTime) {
            localtime_r(&t, &parts);
        } else {
            gmtime_r(&t, &parts);
        }
        cache.parts = parts;
        cache.second = second;
        cache.valid = true;
    }
    CalendarTime out{};
    out.year = cache.parts.tm_year + 1900;
    out.month = cache.parts.tm_mon + 1;
    out.dayOfWeek = cache.parts.tm_wday;
    out.day = cache.parts.tm_mday;
    out.hour = cache.parts.tm_hour;
    out.minute = cache.parts.tm_min;
    out.second = cache.parts.tm_sec;
    out.milliseconds = static_cast<int>(epochMilliseconds - second * 1000);
    return out;
}

CalendarTime ReadCalendarTime(bool localTime)
{
    return ToCalendarTime(NowEpochMilliseconds(), localTime);
}

void SetClockSource(ClockSource source) { g_clockSource.store(source, std::memory_order_release); }

}  // namespace krerrlog
