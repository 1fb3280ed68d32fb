// The platform clock as a calendar reading, in local time or UTC.
#pragma once

namespace krerrlog {

// One reading of the clock, split as the calendar shows it.
struct CalendarTime {
    int year;          // e.g. 2024
    int month;         // 1 to 12
    int dayOfWeek;     // 0 = Sunday
    int day;           // 1 to 31
    int hour;          // 0 to 23
    int minute;        // 0 to 59
    int second;        // 0 to 60
    int milliseconds;  // 0 to 999
};

// Milliseconds since 1970-01-01 UTC, from the clock source in force.
long long NowEpochMilliseconds();

// The system clock's seconds since 1970, whatever source tests set.
// Async-signal-safe.
long long SystemClockSeconds();

// A clock that only moves forward, in nanoseconds from an arbitrary start.
// Async-signal-safe.
long long MonotonicNanoseconds();

// Seconds east of UTC that local time is at the instant (seconds since
// 1970). May take the C library's time zone lock: never at a crash.
long LocalOffsetSeconds(long long epochSeconds);

// The current time in local time (GetLocalTime) or UTC (GetSystemTime).
CalendarTime ReadCalendarTime(bool localTime);

// Splits an instant. The calendar conversion is cached per thread and second,
// so repeated readings within one second cost a comparison.
CalendarTime ToCalendarTime(long long epochMilliseconds, bool localTime);

// Tests fix the clock with a source of their own; null restores the real clock.
using ClockSource = long long (*)();
void SetClockSource(ClockSource source);

}  // namespace krerrlog
