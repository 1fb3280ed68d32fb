// The trace record: lifecycle, the refresh from a master, the values of one
// trace call, the clock, and the assembly of the line. Nothing here allocates
// in the common case: numbers go into each field's own text, texts are
// referenced, the clock texts live in the record.
#include <krerrlog/trace/CKrTraceData.h>

#include <krerrlog/trace/internal/KrTraceFieldSettings.h>

#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/support/internal/KrEnvironment.h>
#include <krerrlog/support/platform/KrPlatformClock.h>
#include <krerrlog/trace/internal/KrTraceConfigStore.h>

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kBracketed = 0;
constexpr int kFixedWidth = 1;
constexpr int kDelimited = 2;
constexpr int kElement = 3;
constexpr int kDataLine = 0;
constexpr int kHeaderLine = 1;
constexpr const char* kElementName = "TraceMessage";

bool ValidFieldId(unsigned int id) { return id < static_cast<unsigned int>(KR_KNOWN_DATA_FIELD_COUNT); }

// Visits the traced fields in output order: the order list ends at its first 0.
template <typename Visit>
void ForEachTracedField(const int (&order)[KR_KNOWN_DATA_FIELD_COUNT],
                        KrTraceDataFieldInfo (&fields)[KR_KNOWN_DATA_FIELD_COUNT], Visit visit)
{
    for (int entry : order) {
        if (entry <= 0 || entry > KR_KNOWN_DATA_FIELD_COUNT) break;
        visit(fields[entry - 1]);
    }
}

}  // namespace

CKrTraceData::CKrTraceData()
    : m_iBuffer(0),
      m_pszTagName("KRTRACELOG"),
      m_bConfigured(false),
      m_bOwnsConfig(false),
      m_bUseLocalTime(false),
      m_iFormat(0),
      m_pszDelimiter(nullptr),
      m_iComponentInfoCount(0),
      m_pComponentInfo(nullptr),
      m_message(false),
      m_pszLongText(nullptr),
      m_iVersion(0),
      m_pLogger(nullptr),
      m_iDateTimeField(0),
      m_pConfigStore(nullptr),
      m_iClockSecond(LLONG_MIN),  // no reading yet
      m_bClockLocalTime(false)
{
    for (char* buffer : m_formatBuffers) buffer[0] = '\0';
    std::memset(m_fieldOrder, 0, sizeof m_fieldOrder);
    m_szDate[0] = m_szTime[0] = m_szPreciseTime[0] = '\0';
}

CKrTraceData::~CKrTraceData()
{
    FreeLongTexts();
    // The last record that refers to the configuration texts frees them.
    krerrlog::TraceConfigStore::Release(m_pConfigStore);
}

CKrTraceData& CKrTraceData::operator=(const CKrTraceData& master)
{
    if (this == &master) return *this;
    if (master.m_pConfigStore) master.m_pConfigStore->AddRef();
    krerrlog::TraceConfigStore::Release(m_pConfigStore);
    m_pConfigStore = master.m_pConfigStore;

    m_iFormat = master.m_iFormat;
    m_pszDelimiter = master.m_pszDelimiter;
    m_iComponentInfoCount = master.m_iComponentInfoCount;
    m_pComponentInfo = master.m_pComponentInfo;
    m_bUseLocalTime = master.m_bUseLocalTime;
    m_iVersion = master.m_iVersion;
    m_iDateTimeField = master.m_iDateTimeField;
    if (master.m_pLogger) m_pLogger = master.m_pLogger;
    for (int i = 0; i < KR_KNOWN_DATA_FIELD_COUNT; ++i) {
        krerrlog::CopyFieldSettings(m_fields[i], master.m_fields[i], master.m_fields[i].filterValue);
    }
    std::memcpy(m_fieldOrder, master.m_fieldOrder, sizeof m_fieldOrder);
    m_bConfigured = true;
    m_bOwnsConfig = false;
    return *this;
}

CKrLogger* CKrTraceData::GetLogger() { return m_pLogger ? m_pLogger : theLogger(); }

// ---- Values ----

bool CKrTraceData::FilterResult(unsigned int id, bool test)
{
    return (test && m_fields[id].filtered) ? TestDataFilter(id) : true;
}

bool CKrTraceData::SetSignedValue(unsigned int id, int value, bool test)
{
    if (!ValidFieldId(id)) return false;
    KrTraceDataFieldInfo& field = m_fields[id];
    switch (id) {
    case KR_FIELD_PID:
        CKrErrLogMessage::GetPid(field.text, sizeof field.text);
        break;
    case KR_FIELD_TID:
        CKrErrLogMessage::GetTid(field.text, sizeof field.text);
        break;
    case KR_FIELD_DATE:
    case KR_FIELD_TIME:
    case KR_FIELD_PRECISETIME:
        // Only the clock driver reads the clock, so one call reads it once.
        return static_cast<int>(id) == m_iDateTimeField ? PopulateDateandTime() : true;
    default:
        if (value < 0) {
            field.text[0] = '-';
            number2string(static_cast<unsigned long long>(-static_cast<long long>(value)), field.text + 1);
        } else {
            number2string(static_cast<unsigned long long>(value), field.text);
        }
        break;
    }
    field.value = field.text;
    field.valueType = KR_VALUE_INT;
    return FilterResult(id, test);
}

bool CKrTraceData::SetUnsignedValue(unsigned int id, unsigned int value, bool test)
{
    if (!ValidFieldId(id)) return false;
    KrTraceDataFieldInfo& field = m_fields[id];
    number2string(value, field.text);
    field.value = field.text;
    field.valueType = KR_VALUE_UINT;
    return FilterResult(id, test);
}

// The wider forms keep the low 32 bits (conversion to a 32-bit type is modular).
bool CKrTraceData::SetFieldValue(unsigned int id, int value, bool test) { return SetSignedValue(id, value, test); }
bool CKrTraceData::SetFieldValue(unsigned int id, long value, bool test)
{
    return SetSignedValue(id, static_cast<int>(value), test);
}
bool CKrTraceData::SetFieldValue(unsigned int id, long long value, bool test)
{
    return SetSignedValue(id, static_cast<int>(value), test);
}
bool CKrTraceData::SetFieldValue(unsigned int id, unsigned int value, bool test)
{
    return SetUnsignedValue(id, value, test);
}
bool CKrTraceData::SetFieldValue(unsigned int id, unsigned long value, bool test)
{
    return SetUnsignedValue(id, static_cast<unsigned int>(value), test);
}
bool CKrTraceData::SetFieldValue(unsigned int id, unsigned long long value, bool test)
{
    return SetUnsignedValue(id, static_cast<unsigned int>(value), test);
}

bool CKrTraceData::SetFieldValue(unsigned int id, double value, bool test)
{
    if (!ValidFieldId(id)) return false;
    KrTraceDataFieldInfo& field = m_fields[id];
    std::snprintf(field.text, sizeof field.text, "%f", value);  // cut at 39 characters
    field.value = field.text;
    field.valueType = KR_VALUE_DOUBLE;
    return FilterResult(id, test);
}

bool CKrTraceData::SetFieldValue(unsigned int id, const char* value, bool test)
{
    if (!ValidFieldId(id)) return false;
    KrTraceDataFieldInfo& field = m_fields[id];
    field.value = value;
    if (value) field.valueType = KR_VALUE_TEXT;
    return FilterResult(id, test);
}

bool CKrTraceData::SetFieldValue(unsigned int id, bool value, bool test)
{
    if (!ValidFieldId(id)) return false;
    KrTraceDataFieldInfo& field = m_fields[id];
    field.text[0] = value ? '1' : '0';
    field.text[1] = '\0';
    field.value = field.text;
    field.valueType = KR_VALUE_BOOL;
    return FilterResult(id, test);
}

// ---- The clock ----

bool CKrTraceData::PopulateDateandTime()
{
    const long long now = krerrlog::NowEpochMilliseconds();
    const krerrlog::CalendarTime time = krerrlog::ToCalendarTime(now, m_bUseLocalTime);
    const long long second = (now - time.milliseconds) / 1000;
    if (second != m_iClockSecond || m_bUseLocalTime != m_bClockLocalTime) {
        std::snprintf(m_szDate, sizeof m_szDate, "%02d/%02d/%04d", time.month, time.day, time.year);
        std::snprintf(m_szTime, sizeof m_szTime, "%02d:%02d:%02d", time.hour, time.minute, time.second);
        const size_t timeLength = std::strlen(m_szTime);
        std::memcpy(m_szPreciseTime, m_szTime, timeLength);
        std::memcpy(m_szPreciseTime + timeLength, ".000", 5);
        m_iClockSecond = second;
        m_bClockLocalTime = m_bUseLocalTime;
    }
    // Within one second only the three millisecond digits change ("%03d").
    char* digits = m_szPreciseTime + std::strlen(m_szPreciseTime) - 3;
    digits[0] = static_cast<char>('0' + time.milliseconds / 100);
    digits[1] = static_cast<char>('0' + (time.milliseconds / 10) % 10);
    digits[2] = static_cast<char>('0' + time.milliseconds % 10);

    const char* texts[] = {m_szDate, m_szTime, m_szPreciseTime};
    const unsigned int ids[] = {KR_FIELD_DATE, KR_FIELD_TIME, KR_FIELD_PRECISETIME};
    for (int i = 0; i < 3; ++i) {
        m_fields[ids[i]].value = texts[i];
        m_fields[ids[i]].valueType = KR_VALUE_TEXT;
    }
    // The clock fields' filters are always tested, traced or not.
    for (unsigned int id : ids) {
        if (m_fields[id].filtered && !TestDataFilter(id)) return false;
    }
    return true;
}

// ---- The line ----

bool CKrTraceData::AssembleTraceMessage(CKrErrLogMessage& msg, int mode)
{
    const int format = m_iFormat;
    if (format == kElement && mode != kDataLine) return false;  // the element form has no header
    if (format <= kElement) {
        const char* extra = format == kDelimited ? m_pszDelimiter : format == kElement ? kElementName : nullptr;
        msg.BeginTraceFormat(format, m_bUseLocalTime, extra);
        // Only the data and header modes lay out fields; any other mode gives an empty line.
        if (format < 0 || (mode != kDataLine && mode != kHeaderLine)) {
            msg.EndTraceFormat();
            return true;
        }
        ForEachTracedField(m_fieldOrder, m_fields, [&](const KrTraceDataFieldInfo& field) {
            if (format == kFixedWidth) {
                msg.FormatTraceField(mode == kDataLine ? field.value : field.name, field.width);
            } else if (mode == kDataLine) {
                msg.newFormatTraceField(field.value, field.valueType, format == kElement ? field.name : extra);
            } else if (format == kBracketed || format == kDelimited) {
                msg.FormatTraceField(field.name, extra, 0);
            }
        });
    }
    msg.EndTraceFormat();
    return true;
}

bool CKrTraceData::AssembleInMemoryTraceMessage(CKrErrLogMessage& msg, int)
{
    int skipped = 0;
    ForEachTracedField(m_fieldOrder, m_fields, [&](KrTraceDataFieldInfo& field) {
        if (!field.value) {
            ++skipped;
            return;
        }
        // Absent fields show only when a present one follows them.
        msg.InMemFormatTraceField(skipped);
        skipped = 0;
        msg.InMemFormatTraceField(field.value, field.valueType);
        field.value = nullptr;
    });
    msg.InMemEndTraceFormat();
    return true;
}

bool CKrTraceData::Format() { return AssembleTraceMessage(m_message, kDataLine); }
bool CKrTraceData::InMemFormat() { return AssembleInMemoryTraceMessage(m_message, kDataLine); }
const char* CKrTraceData::GetFormattedTraceMessage() { return m_message.GetBuffer(); }

// Also on a record without a configuration: its long texts would otherwise
// pile up for as long as it lives. Its values stay, unless they would point
// into freed memory.
bool CKrTraceData::CleanUpData()
{
    // Only the fields that hold a value are written: a trace call sets a few
    // of the 67, and a store to each would dirty every line of the table.
    const bool configured = m_bConfigured;
    for (KrTraceDataFieldInfo& field : m_fields) {
        if (field.value && (configured || InLongText(field.value))) field.value = nullptr;
    }
    FreeLongTexts();
    m_message.CleanUpMessage();
    return true;
}

bool CKrTraceData::InMemoryCleanUpData()
{
    FreeLongTexts();
    m_message.CleanUpMessage();
    return true;
}
