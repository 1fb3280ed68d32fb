// Test access to the private operations of the trace record, and a small
// component list shaped like the logger's (components followed by their
// sub-components).
#pragma once

#include <krerrlog/trace/CKrTraceData.h>

#include "testsupport/TestFiles.h"

#include <memory>
#include <string>
#include <vector>

class CKrTraceDataTestPeer {
public:
    static bool SetConfiguration(CKrTraceData& record, int format, const char* delimiter, const char* file,
                                 int componentCount, KrTraceComponentInfo* components,
                                 KrTraceDataFieldInfo* fields, bool useLocalTime)
    {
        return record.SetConfiguration(format, delimiter, file, componentCount, components, fields, useLocalTime);
    }
    static bool ReadConfigFile(CKrTraceData& record, const char* path) { return record.ReadConfigFile(path); }
    // Prepares the record as SetConfiguration does, then parses text from memory.
    static bool ReadConfigText(CKrTraceData& record, const std::string& text, int componentCount,
                               KrTraceComponentInfo* components, KrTraceDataFieldInfo* fields)
    {
        return record.PrepareConfiguration(0, nullptr, componentCount, components, fields, false) &&
               record.ReadConfigText(text.data(), text.size());
    }
    static void SetDateTimeFieldFromConfiguration(CKrTraceData& record) { record.SetDateTimeFieldFromConfiguration(); }
    static bool MarkComponentTraced(CKrTraceData& record, unsigned int id) { return record.MarkComponentTraced(id); }
    template <class Key>
    static KrTraceComponentInfo* GetComponentInfo(CKrTraceData& record, Key key)
    {
        return record.GetComponentInfo(key);
    }
    static KrTraceDataFieldInfo* Field(CKrTraceData& record, unsigned int id) { return record.GetDataFieldInfo(id); }
    static bool TestDataFilter(CKrTraceData& record, unsigned int id) { return record.TestDataFilter(id); }
    static void Refresh(CKrTraceData& copy, const CKrTraceData& master) { copy = master; }
    static bool Assemble(CKrTraceData& record, CKrErrLogMessage& message, int mode)
    {
        return record.AssembleTraceMessage(message, mode);
    }
    // The traced field ids in output order.
    static std::vector<int> FieldOrder(const CKrTraceData& record)
    {
        std::vector<int> ids;
        for (int entry : record.m_fieldOrder) {
            if (entry == 0) break;
            ids.push_back(entry - 1);
        }
        return ids;
    }
    static void SetVersion(CKrTraceData& record, int version) { record.m_iVersion = version; }
    static int DateTimeField(const CKrTraceData& record) { return record.m_iDateTimeField; }
    static bool Configured(const CKrTraceData& record) { return record.m_bConfigured; }
    static bool OwnsConfig(const CKrTraceData& record) { return record.m_bOwnsConfig; }
    static const char* Delimiter(const CKrTraceData& record) { return record.m_pszDelimiter; }
    static const char* LongText(const CKrTraceData& record) { return record.m_pszLongText; }
    static const char* FormatBuffer(const CKrTraceData& record, int index) { return record.m_formatBuffers[index]; }
};

namespace krtest {

// Component ids of TraceTables the tests name.
constexpr unsigned int kServer = 0x01000000;
constexpr unsigned int kServerSend = 0x01010000;
constexpr unsigned int kLoginLogout = 0x02000000;
constexpr unsigned int kLoginReceiveRequest = 0x02030000;
constexpr unsigned int kAgent = 0x04000000;

// Field ids (positions in the known-field table) the tests use.
constexpr unsigned kMessage = 0, kPid = 2, kTid = 3, kDate = 4, kTime = 5, kPreciseTime = 6, kUser = 9, kRealm = 12;

// What the logger hands to SetConfiguration: its component list and its 67
// field entries, both with nothing selected. The names are heap strings, so a
// test can free them to show a record does not depend on them.
class TraceTables {
public:
    TraceTables();
    KrTraceComponentInfo* Components() { return m_components.data(); }
    int ComponentCount() const { return static_cast<int>(m_components.size()); }
    KrTraceDataFieldInfo* Fields() { return m_fields; }
    // Overwrites and frees the component names, as a released logger does.
    void DestroyNames();

private:
    std::vector<std::unique_ptr<std::string>> m_names;
    std::vector<KrTraceComponentInfo> m_components;
    KrTraceDataFieldInfo m_fields[KR_KNOWN_DATA_FIELD_COUNT];
};

// Writes the configuration file and reads it into a new master record.
struct ConfiguredRecord {
    std::unique_ptr<CKrTraceData> record;
    bool read = false;
};
ConfiguredRecord ReadConfiguration(TraceTables& tables, const std::string& content, int format = 0,
                                   const char* delimiter = nullptr, bool useLocalTime = false);

// A field's value, or "<unset>".
inline std::string Value(CKrTraceData& record, unsigned id)
{
    const char* value = CKrTraceDataTestPeer::Field(record, id)->value;
    return value ? value : "<unset>";
}
inline std::string Text(CKrErrLogMessage& message) { return std::string(message.GetBuffer(), message.GetBufferLen()); }

}  // namespace krtest
