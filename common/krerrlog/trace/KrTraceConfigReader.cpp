// The trace configuration file: which components are traced, which fields a
// line carries and in which order, and the filters on field values.
//
//   # comment               blank, comment and "version" lines may stand anywhere
//   version 1.1
//   components: Server, Login_Logout/Authentication
//   data: Date, Time, User, Message
//   User==alice             filter lines: <field> <op><value to the end of the line>
//   Realm @@corp            (blanks may stand between the name and the operator)
//
// A file is read whole and parsed from memory, by the same code that parses a
// configuration given as text. The record being read is seen by no other
// thread until the enabling call installs it, so the reader changes it
// without locks.
#include <krerrlog/trace/CKrTraceData.h>

#include <krerrlog/trace/internal/KrTraceFieldSettings.h>

#include <krerrlog/support/internal/KrFile.h>
#include <krerrlog/trace/internal/KrTraceConfigDiagnostics.h>
#include <krerrlog/trace/internal/KrTraceConfigStore.h>
#include <krerrlog/trace/internal/KrTraceConfigTokenizer.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

namespace {

// A line is read into a buffer of this size: longer lines are cut to its
// size less one, as the line reader of the suite cuts them.
constexpr size_t kLineBufferSize = 8092;
// A configuration names up to a few hundred components and 67 fields: a file
// larger than this is no configuration and is refused rather than loaded.
constexpr size_t kLargestConfigFile = 16u << 20;
constexpr int kReadTextMode = 3;
constexpr uint32_t kComponentByte = 0xFF000000u;
constexpr uint32_t kSubComponentByte = 0x00FF0000u;

enum class ReadState { ExpectComponents, ExpectData, Filters };

// Closes the file whatever way reading ends.
class OpenedFile {
public:
    OpenedFile() = default;
    ~OpenedFile() { m_file.CloseFile(); }
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;
    CKrFile* operator->() { return &m_file; }

private:
    CKrFile m_file;
};

// The lines of a configuration text, each as the line reader delivers it: up
// to its "\n", cut to kLineBufferSize - 1 bytes and at a NUL byte, without the
// carriage returns a CRLF file leaves at its end (so that CRLF files read
// exactly like LF files). A last line without a line end is still a line.
class ConfigLines {
public:
    explicit ConfigLines(std::string_view text) : m_rest(text) {}

    bool Next(std::string_view& line)
    {
        if (m_rest.empty()) return false;
        const size_t end = m_rest.find('\n');
        line = m_rest.substr(0, std::min(end, kLineBufferSize - 1));
        m_rest.remove_prefix(end == std::string_view::npos ? m_rest.size() : end + 1);
        line = line.substr(0, line.find('\0'));
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return true;
    }

private:
    std::string_view m_rest;
};

bool SameName(const char* name, std::string_view wanted) { return name && std::string_view(name) == wanted; }

// The id of the field named name (case-sensitive), or -1.
int FieldIndex(const KrTraceDataFieldInfo* fields, std::string_view name)
{
    for (int i = 0; i < KR_KNOWN_DATA_FIELD_COUNT; ++i) {
        if (SameName(fields[i].name, name)) return i;
    }
    return -1;
}

int FilterOperatorCode(char first, char second)
{
    if (first == '=' && second == '=') return KR_FILTER_EQUAL;
    if (first == '!' && second == '=') return KR_FILTER_NOT_EQUAL;
    if (first == '@' && second == '@') return KR_FILTER_CONTAINS;
    if (first == '!' && second == '@') return KR_FILTER_NOT_CONTAINS;
    return KR_FILTER_NONE;
}

// A first token written without a blank before the operator ("User==alice",
// "Realm@@corp"): the id of the known field whose whole name is followed
// directly by one of the operators, or -1 ("Username==x" names no field).
int FieldBeforeOperator(const KrTraceDataFieldInfo* fields, std::string_view token, size_t& nameLength)
{
    for (int i = 0; i < KR_KNOWN_DATA_FIELD_COUNT; ++i) {
        if (!fields[i].name) continue;
        const std::string_view name(fields[i].name);
        if (token.size() < name.size() + 2 || token.substr(0, name.size()) != name) continue;
        if (FilterOperatorCode(token[name.size()], token[name.size() + 1]) == KR_FILTER_NONE) continue;
        nameLength = name.size();
        return i;
    }
    return -1;
}

bool IsClockField(int id) { return id == KR_FIELD_DATE || id == KR_FIELD_TIME || id == KR_FIELD_PRECISETIME; }

// A word as the diagnostics show it: in quotes, so that blanks are seen.
// Appended piece by piece: GCC 12's -Wrestrict misreads "\"" + std::string(...) at -O3.
std::string Quoted(std::string_view word)
{
    std::string quoted;
    quoted.reserve(word.size() + 2);
    quoted += '"';
    quoted.append(word);
    quoted += '"';
    return quoted;
}

// Why a line stands where the components or the data line belongs.
std::string Misplaced(std::string_view first, const char* expected, bool isField)
{
    const std::string belongs = std::string(" where the ") + expected + " line belongs";
    if (first == "components") return "a second components line" + belongs;
    if (first == "data") return "a data line" + belongs;
    if (isField) return "a filter line (" + Quoted(first) + ")" + belongs;
    return Quoted(first) + belongs;
}

// Why a line among the filter lines is skipped.
std::string SkippedAmongFilters(std::string_view first)
{
    if (first == "components" || first == "data")
        return "a second " + std::string(first) + " line: line skipped";
    if (first.find_first_of("=!@") != std::string_view::npos)
        return Quoted(first) + " does not start with a data field followed by an operator: line skipped";
    return Quoted(first) + " is not a data field: line skipped";
}

// Passes diagnostics on when there is a sink; without one nothing is made.
class Reporter {
public:
    explicit Reporter(krerrlog::TraceConfigDiagnostics* sink) : m_sink(sink) {}
    // The text is made only when someone listens.
    template <typename MakeText>
    void Error(int line, MakeText makeText)
    {
        if (m_sink) m_sink->Report(krerrlog::TraceConfigSeverity::Error, line, makeText());
    }
    template <typename MakeText>
    void Warning(int line, MakeText makeText)
    {
        if (m_sink) m_sink->Report(krerrlog::TraceConfigSeverity::Warning, line, makeText());
    }

private:
    krerrlog::TraceConfigDiagnostics* m_sink;
};

// The components selected for older files by the newer components that took
// over part of their trace points: (selected component, the two it implies).
struct CompatibilityRule {
    const char* whenSelected;
    const char* alsoSelect[2];
};
constexpr CompatibilityRule kPreVersion11Rules[] = {
    {"Login_Logout/Authentication", {"Login_Logout/Send_Response", "Login_Logout/Receive_Request"}},
    {"IsAuthorized", {"IsAuthorized/Send_Response", "IsAuthorized/Receive_Request"}},
};

}  // namespace

bool CKrTraceData::PrepareConfiguration(int format, const char* delimiter, int componentCount,
                                        const KrTraceComponentInfo* components, const KrTraceDataFieldInfo* fields,
                                        bool useLocalTime)
{
    if (!components || !fields) return false;

    for (KrTraceDataFieldInfo& field : m_fields) field = KrTraceDataFieldInfo();
    std::memset(m_fieldOrder, 0, sizeof m_fieldOrder);
    m_iFormat = format;
    m_bUseLocalTime = useLocalTime;
    m_bOwnsConfig = true;

    krerrlog::TraceConfigStore* store = krerrlog::TraceConfigStore::Create(delimiter, componentCount, components);
    if (!store) return false;
    krerrlog::TraceConfigStore::Release(m_pConfigStore);
    m_pConfigStore = store;
    m_pszDelimiter = m_pConfigStore->Delimiter();
    m_iComponentInfoCount = m_pConfigStore->ComponentCount();
    m_pComponentInfo = m_pConfigStore->Components();
    m_bConfigured = true;

    for (int i = 0; i < KR_KNOWN_DATA_FIELD_COUNT; ++i) {
        const KrTraceDataFieldInfo& given = fields[i];
        // The record owns its filter texts, whatever list it was prepared from.
        char* filterValue = given.filterValue
                                ? m_pConfigStore->SetFilterValue(static_cast<unsigned int>(i), given.filterValue,
                                                                 std::strlen(given.filterValue))
                                : nullptr;
        // Without its text a filter would let every line through: the
        // configuration fails instead.
        if (given.filterValue && !filterValue) return false;
        krerrlog::CopyFieldSettings(m_fields[i], given, filterValue);
    }
    return true;
}

bool CKrTraceData::SetConfiguration(int format, const char* delimiter, const char* configFile, int componentCount,
                                    KrTraceComponentInfo* components, KrTraceDataFieldInfo* fields,
                                    bool useLocalTime)
{
    if (!PrepareConfiguration(format, delimiter, componentCount, components, fields, useLocalTime)) return false;
    return ReadConfigFile(configFile);
}

bool CKrTraceData::ReadConfigFile(const char* path) { return ReadConfigFile(path, nullptr); }

bool CKrTraceData::ReadConfigFile(const char* path, krerrlog::TraceConfigDiagnostics* diagnostics)
{
    Reporter report(diagnostics);
    if (!path) return false;
    std::string text;
    {
        OpenedFile file;
        if (!file->OpenFile(path, kReadTextMode)) {
            report.Error(0, [&] { return std::string("cannot open the file"); });
            return false;
        }
        bool read = false;
        try {
            read = file->ReadRest(text, kLargestConfigFile);
        } catch (const std::bad_alloc&) {
            read = false;
        }
        if (!read) {
            report.Error(0, [&] { return std::string("cannot read the file, or it is larger than 16 MiB"); });
            return false;
        }
    }
    return ReadConfigText(text.data(), text.size(), diagnostics);
}

bool CKrTraceData::ReadConfigText(const char* text, size_t length, krerrlog::TraceConfigDiagnostics* diagnostics)
{
    Reporter report(diagnostics);
    if (!text && length != 0) return false;

    if (!MakeConfigurationPrivate()) return false;

    int orderLength = 0;
    while (orderLength < KR_KNOWN_DATA_FIELD_COUNT && m_fieldOrder[orderLength] != 0) ++orderLength;

    ReadState state = ReadState::ExpectComponents;
    bool version11 = false;
    int lineNumber = 0;
    int filterLines[KR_KNOWN_DATA_FIELD_COUNT] = {};  // where each field's filter was set
    ConfigLines lines(std::string_view(text ? text : "", length));
    std::string_view line;
    while (lines.Next(line)) {
        ++lineNumber;
        krerrlog::TraceConfigTokenizer tokens(line);
        std::string_view first;
        if (!tokens.Next(first) || first.front() == '#') continue;

        std::string_view token;
        if (first == "version") {
            if (tokens.Next(token) && token.find("1.1") != std::string_view::npos) version11 = true;
            continue;
        }

        switch (state) {
        case ReadState::ExpectComponents:
            if (first != "components") {
                report.Error(lineNumber,
                             [&] { return Misplaced(first, "components", FieldIndex(m_fields, first) >= 0); });
                return false;
            }
            while (tokens.Next(token)) {
                bool known = false;
                for (int i = 0; i < m_iComponentInfoCount; ++i) {
                    if (SameName(m_pComponentInfo[i].name, token)) {
                        MarkComponentTraced(m_pComponentInfo[i].id);
                        known = true;
                        break;
                    }
                }
                if (!known) {
                    report.Warning(lineNumber, [&] { return "unknown component " + Quoted(token) + " ignored"; });
                }
            }
            state = ReadState::ExpectData;
            break;

        case ReadState::ExpectData:
            if (first != "data") {
                report.Error(lineNumber, [&] { return Misplaced(first, "data", FieldIndex(m_fields, first) >= 0); });
                return false;
            }
            while (tokens.Next(token)) {
                const int i = FieldIndex(m_fields, token);
                if (i < 0) {
                    report.Warning(lineNumber, [&] { return "unknown data field " + Quoted(token) + " ignored"; });
                } else if (m_fields[i].traced) {
                    report.Warning(lineNumber, [&] {
                        return "data field " + Quoted(token) + " named again: the first mention counts";
                    });
                } else if (orderLength < KR_KNOWN_DATA_FIELD_COUNT) {
                    m_fields[i].traced = true;
                    m_fieldOrder[orderLength++] = i + 1;
                }
            }
            state = ReadState::Filters;
            break;

        case ReadState::Filters: {
            // The name, then either one separator and any blanks and tabs, or
            // the operator at once; then the two operator characters; the
            // value is the rest of the line, untrimmed.
            int fieldIndex = FieldIndex(m_fields, first);
            size_t at;
            if (fieldIndex >= 0) {
                at = tokens.Position();
                if (at >= line.size()) {
                    report.Warning(lineNumber, [&] {
                        return "filter line for " + Quoted(first) + " has no operator: line skipped";
                    });
                    break;
                }
                ++at;
                while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
            } else {
                size_t nameLength = 0;
                fieldIndex = FieldBeforeOperator(m_fields, first, nameLength);
                if (fieldIndex < 0) {
                    report.Warning(lineNumber, [&] { return SkippedAmongFilters(first); });
                    break;
                }
                at = static_cast<size_t>(first.data() - line.data()) + nameLength;
            }
            const int op = line.size() - at < 2 ? KR_FILTER_NONE : FilterOperatorCode(line[at], line[at + 1]);
            if (op == KR_FILTER_NONE) {
                report.Warning(lineNumber, [&] {
                    return "filter line for " + Quoted(m_fields[fieldIndex].name) + ": " +
                           Quoted(line.substr(at, 2)) + " is not an operator (==, !=, @@, !@): line skipped";
                });
                break;
            }
            std::string_view value = line.substr(at + 2);
            value = value.substr(0, value.find('\n'));
            KrTraceDataFieldInfo& field = m_fields[fieldIndex];
            const std::string_view name(field.name);
            if (field.filtered) {
                report.Warning(lineNumber, [&] {
                    return "filter on " + Quoted(name) + " replaces the one on line " +
                           std::to_string(filterLines[fieldIndex]);
                });
            }
            if (!field.traced && !IsClockField(fieldIndex)) {
                report.Warning(lineNumber, [&] {
                    return "filter on " + Quoted(name) + " never acts: the data line does not trace the field";
                });
            }
            char* filterValue =
                m_pConfigStore->SetFilterValue(static_cast<unsigned int>(fieldIndex), value.data(), value.size());
            if (!filterValue) return false;  // a filter dropped would let every line through
            filterLines[fieldIndex] = lineNumber;
            field.filterOp = op;
            field.filterValue = filterValue;
            field.filtered = true;
            break;
        }
        }
    }

    if (!version11) {
        for (const CompatibilityRule& rule : kPreVersion11Rules) {
            const KrTraceComponentInfo* trigger = GetComponentInfo(rule.whenSelected);
            if (!trigger || !trigger->selected) continue;
            for (const char* name : rule.alsoSelect) {
                if (const KrTraceComponentInfo* implied = GetComponentInfo(name)) MarkComponentTraced(implied->id);
            }
        }
    }
    return true;
}

bool CKrTraceData::MakeConfigurationPrivate()
{
    if (m_pConfigStore && m_bOwnsConfig && m_pConfigStore->References() == 1) return true;
    krerrlog::TraceConfigStore* own =
        krerrlog::TraceConfigStore::Create(m_pszDelimiter, m_iComponentInfoCount, m_pComponentInfo);
    if (!own) return false;
    char* filterValues[KR_KNOWN_DATA_FIELD_COUNT] = {};
    for (int i = 0; i < KR_KNOWN_DATA_FIELD_COUNT; ++i) {
        const char* value = m_fields[i].filterValue;
        if (!value) continue;
        filterValues[i] = own->SetFilterValue(static_cast<unsigned int>(i), value, std::strlen(value));
        if (!filterValues[i]) {
            krerrlog::TraceConfigStore::Release(own);  // the record stays as it was
            return false;
        }
    }
    for (int i = 0; i < KR_KNOWN_DATA_FIELD_COUNT; ++i) {
        if (m_fields[i].filterValue) m_fields[i].filterValue = filterValues[i];
    }
    krerrlog::TraceConfigStore::Release(m_pConfigStore);
    m_pConfigStore = own;
    m_pszDelimiter = own->Delimiter();
    m_iComponentInfoCount = own->ComponentCount();
    m_pComponentInfo = own->Components();
    m_bOwnsConfig = true;
    return true;
}

void CKrTraceData::SetDateTimeFieldFromConfiguration()
{
    m_iDateTimeField = 0;
    for (int id : {KR_FIELD_DATE, KR_FIELD_TIME, KR_FIELD_PRECISETIME}) {
        if (m_fields[id].traced) m_iDateTimeField = id;
    }
}

bool CKrTraceData::MarkComponentTraced(unsigned int id)
{
    if (!m_pComponentInfo) return false;
    MakeConfigurationPrivate();
    const bool namesSubComponent = (id & kComponentByte) != 0 && (id & kSubComponentByte) != 0;
    for (int i = 0; i < m_iComponentInfoCount; ++i) {
        KrTraceComponentInfo& entry = m_pComponentInfo[i];
        if (entry.id == id) {
            entry.selected = true;
            if (namesSubComponent) break;
        } else if ((entry.id & kComponentByte) == id) {
            // Naming a component selects its sub-components as well.
            entry.selected = true;
        }
    }
    return true;
}

KrTraceComponentInfo* CKrTraceData::GetComponentInfo(unsigned int id)
{
    for (int i = 0; i < m_iComponentInfoCount && m_pComponentInfo; ++i) {
        if (m_pComponentInfo[i].id == id) return &m_pComponentInfo[i];
    }
    return nullptr;
}

KrTraceComponentInfo* CKrTraceData::GetComponentInfo(const char* name)
{
    if (!name) return nullptr;
    for (int i = 0; i < m_iComponentInfoCount && m_pComponentInfo; ++i) {
        if (SameName(m_pComponentInfo[i].name, name)) return &m_pComponentInfo[i];
    }
    return nullptr;
}

KrTraceDataFieldInfo* CKrTraceData::GetDataFieldInfo(unsigned int id)
{
    return id < static_cast<unsigned int>(KR_KNOWN_DATA_FIELD_COUNT) ? &m_fields[id] : nullptr;
}

KrTraceDataFieldInfo* CKrTraceData::GetDataFieldInfo(const char* name)
{
    const int i = name ? FieldIndex(m_fields, name) : -1;
    return i >= 0 ? &m_fields[i] : nullptr;
}
