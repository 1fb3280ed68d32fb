#include <krerrlog/message/internal/KrDateTimeText.h>

#include <cstring>

namespace krerrlog {

const char* const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

char* TwoDigits(char* out, int value)
{
    out[0] = static_cast<char>('0' + (value / 10) % 10);
    out[1] = static_cast<char>('0' + value % 10);
    return out + 2;
}

}  // namespace

void FormatDateTime(const CalendarTime& time, char* out)
{
    // Same text as the day and month names followed by strftime "%d %Y %H:%M:%S".
    const char* day = (time.dayOfWeek >= 0 && time.dayOfWeek < 7) ? kDayNames[time.dayOfWeek] : "???";
    const char* month = (time.month >= 1 && time.month <= 12) ? kMonthNames[time.month - 1] : "???";
    std::memcpy(out, day, 3);
    out[3] = ' ';
    std::memcpy(out + 4, month, 3);
    out[7] = ' ';
    char* p = TwoDigits(out + 8, time.day);
    *p++ = ' ';
    int year = time.year;
    p[0] = static_cast<char>('0' + (year / 1000) % 10);
    p[1] = static_cast<char>('0' + (year / 100) % 10);
    p[2] = static_cast<char>('0' + (year / 10) % 10);
    p[3] = static_cast<char>('0' + year % 10);
    p += 4;
    *p++ = ' ';
    p = TwoDigits(p, time.hour);
    *p++ = ':';
    p = TwoDigits(p, time.minute);
    *p++ = ':';
    TwoDigits(p, time.second);
}

void FormatDateTimeWithMilliseconds(long long epochMilliseconds, bool localTime, char* out)
{
    struct SecondText {
        long long second = -1;
        bool valid = false;
        char text[kDateTimeLength];
    };
    thread_local SecondText cache[2];
    const CalendarTime time = ToCalendarTime(epochMilliseconds, localTime);
    const long long second = epochMilliseconds / 1000 - (epochMilliseconds % 1000 < 0 ? 1 : 0);
    SecondText& entry = cache[localTime ? 1 : 0];
    if (!entry.valid || entry.second != second) {
        FormatDateTime(time, entry.text);
        entry.second = second;
        entry.valid = true;
    }
    std::memcpy(out, entry.text, kDateTimeLength);
    out[24] = '.';
    out[25] = static_cast<char>('0' + time.milliseconds / 100);
    out[26] = static_cast<char>('0' + (time.milliseconds / 10) % 10);
    out[27] = static_cast<char>('0' + time.milliseconds % 10);
}

}  // namespace krerrlog
