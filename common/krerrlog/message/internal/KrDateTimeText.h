// The date-time text of log lines: "Tue Mar 05 2024 13:45:12" (24 characters),
// optionally followed by ".345".
#pragma once

#include <krerrlog/support/platform/KrPlatformClock.h>

#include <ctime>

namespace krerrlog {

constexpr int kDateTimeLength = 24;
constexpr int kDateTimeWithMillisecondsLength = 28;

extern const char* const kDayNames[7];
extern const char* const kMonthNames[12];

// Writes the 24 characters of the calendar reading (no NUL).
void FormatDateTime(const CalendarTime& time, char* out);
// Writes the 28 characters with milliseconds (no NUL). The text of the second
// is cached per thread, so readings within one second cost a copy.
void FormatDateTimeWithMilliseconds(long long epochMilliseconds, bool localTime, char* out);

}  // namespace krerrlog
