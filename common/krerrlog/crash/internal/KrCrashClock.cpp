#include <krerrlog/crash/internal/KrCrashClock.h>

#include <krerrlog/support/platform/KrPlatformClock.h>

#include <atomic>

namespace krerrlog {

namespace {

// Enough for the twice-yearly daylight saving changes of the prepared span.
constexpr int kMostChanges = 8;
constexpr long long kDay = 86400;
constexpr long long kPreparedDays = 550;

struct OffsetChange {
    long long at;      // first second (UTC) of the new offset
    long offset;       // seconds east of UTC from then on
};

struct PreparedOffsets {
    long initialOffset = 0;
    int changes = 0;
    OffsetChange change[kMostChanges];
};

// Two tables: a new preparation fills the one not in use and publishes it
// (release store, acquire load: a reader sees the table filled).
PreparedOffsets g_tables[2];
std::atomic<PreparedOffsets*> g_current{nullptr};

long OffsetAt(long long when) { return LocalOffsetSeconds(when); }

// Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
void CivilFromDays(long long days, int& year, int& month, int& day)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthIndex = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

void PrepareCrashClock(time_t from)
{
    PreparedOffsets* table = g_current.load(std::memory_order_acquire) == &g_tables[0] ? &g_tables[1] : &g_tables[0];
    table->initialOffset = OffsetAt(from);
    table->changes = 0;
    long previous = table->initialOffset;
    for (long long day = 1; day <= kPreparedDays && table->changes < kMostChanges; ++day) {
        const long long sample = static_cast<long long>(from) + day * kDay;
        const long offset = OffsetAt(sample);
        if (offset == previous) continue;
        // The change lies in the last day: find its first second.
        long long before = sample - kDay, after = sample;
        while (after - before > 1) {
            const long long middle = before + (after - before) / 2;
            (OffsetAt(middle) == previous ? before : after) = middle;
        }
        table->change[table->changes++] = OffsetChange{after, offset};
        previous = offset;
    }
    g_current.store(table, std::memory_order_release);
}

CalendarTime CrashLocalTime(time_t when)
{
    long long seconds = static_cast<long long>(when);
    if (const PreparedOffsets* table = g_current.load(std::memory_order_acquire)) {
        long offset = table->initialOffset;
        for (int i = 0; i < table->changes && table->change[i].at <= seconds; ++i) offset = table->change[i].offset;
        seconds += offset;
    }
    long long days = seconds / kDay;
    long long inDay = seconds % kDay;
    if (inDay < 0) {
        inDay += kDay;
        --days;
    }
    CalendarTime out{};
    CivilFromDays(days, out.year, out.month, out.day);
    out.dayOfWeek = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    out.hour = static_cast<int>(inDay / 3600);
    out.minute = static_cast<int>(inDay / 60 % 60);
    out.second = static_cast<int>(inDay % 60);
    return out;
}

CalendarTime CrashLocalTimeNow()
{
    return CrashLocalTime(static_cast<time_t>(SystemClockSeconds()));
}

}  // namespace krerrlog
