#include <krerrlog/support/KrErrLogClock.h>

#include <krerrlog/support/platform/KrPlatformClock.h>

#include <cstring>

bool KrErrLogGetCurrentTime(bool localTime, tm& time, long& milliseconds)
{
    std::memset(&time, 0, sizeof time);
    const krerrlog::CalendarTime now = krerrlog::ReadCalendarTime(localTime);
    time.tm_sec = now.second;
    time.tm_min = now.minute;
    time.tm_hour = now.hour;
    time.tm_mday = now.day;
    time.tm_mon = now.month - 1;
    time.tm_year = now.year - 1900;
    time.tm_wday = now.dayOfWeek;
    milliseconds = now.milliseconds;
    return true;
}
