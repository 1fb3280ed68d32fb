// Local time for a crashing thread. localtime_r may take the C library's time
// zone lock and read the zone file; a signal handler can do neither. So the
// offsets from UTC, and the instants at which they change, are worked out in
// advance for the coming year and a half; at a crash the clock is read with
// SystemClockSeconds and split with arithmetic alone.
#pragma once

#include <ctime>

namespace krerrlog {

struct CalendarTime;

// Works out the local offsets from `from` on (at setup time, never at a crash).
void PrepareCrashClock(time_t from);
// The local calendar time of `when` from the prepared offsets (UTC when
// nothing was prepared). Async-signal-safe.
CalendarTime CrashLocalTime(time_t when);
// CrashLocalTime of the current time. Async-signal-safe.
CalendarTime CrashLocalTimeNow();

}  // namespace krerrlog
