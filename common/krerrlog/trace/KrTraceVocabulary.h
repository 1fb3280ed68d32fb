// The vocabulary every trace caller shares: the known data fields (whose table
// position is the field id), the known component library names (loaded by the
// logger in this order), the per-entry records carried by the logger and by each
// trace record, and the component id scheme.
#pragma once

#include <krerrlog/KrExport.h>

#include <cstdint>

// One row of the known data fields table.
struct KNOWNDATAFIELDINFO {
    const char* name;
    int32_t width;  // column width in the fixed-width trace layout
};

// Value type codes of KrTraceDataFieldInfo::valueType.
enum KrTraceValueType : int32_t {
    KR_VALUE_TEXT = 0,
    KR_VALUE_INT = 1,
    KR_VALUE_DOUBLE = 2,
    KR_VALUE_BOOL = 3,
    KR_VALUE_UINT = 4,
};

// Filter operator codes of KrTraceDataFieldInfo::filterOp; any other code fails.
enum KrTraceFilterOp : int32_t {
    KR_FILTER_NONE = 0,
    KR_FILTER_EQUAL = 1,         // "=="
    KR_FILTER_NOT_EQUAL = 2,     // "!="
    KR_FILTER_CONTAINS = 7,      // "@@"
    KR_FILTER_NOT_CONTAINS = 8,  // "!@"
};

// One data field in the logger's field list and in every trace record. The
// first eight members are configuration (copied when a per-thread record is
// refreshed); value and text belong to the current trace call.
struct KrTraceDataFieldInfo {
    bool traced = false;
    bool filtered = false;
    uint32_t id = 0;
    const char* name = nullptr;  // the table's name, never owned
    int32_t valueType = KR_VALUE_TEXT;
    int32_t width = 0;
    char* filterValue = nullptr;  // owned by the configuration's master record
    int32_t filterOp = KR_FILTER_NONE;
    const char* value = nullptr;  // null: not set in the current trace call
    char text[40] = {};           // text of numeric and boolean values
};

// One component or sub-component ("component/sub-component") of a component list.
struct KrTraceComponentInfo {
    bool selected = false;
    uint32_t id = 0;
    const char* name = nullptr;
};

// Sizes of the two static tables.
constexpr int KR_KNOWN_DATA_FIELD_COUNT = 67;
constexpr int KR_KNOWN_COMPONENT_LIB_COUNT = 26;

// Data field ids the library fills or treats specially.
enum KrTraceDataFieldId : uint32_t {
    KR_FIELD_MESSAGE = 0,
    KR_FIELD_SRCFILE = 1,
    KR_FIELD_PID = 2,
    KR_FIELD_TID = 3,
    KR_FIELD_DATE = 4,
    KR_FIELD_TIME = 5,
    KR_FIELD_PRECISETIME = 6,
    KR_FIELD_FUNCTION = 7,
    KR_FIELD_TAG = 66,
};

// Component ids: bits 24-31 the component number, bits 16-23 the sub-component
// number (0 for the component itself), bits 0-15 zero. Verdict tables are
// indexed by the id shifted right by 16 bits.
constexpr uint32_t KrMakeComponentId(uint32_t component, uint32_t subComponent = 0) {
    return ((component & 0xFFu) << 24) | ((subComponent & 0xFFu) << 16);
}
constexpr uint32_t KrComponentNumber(uint32_t componentId) { return componentId >> 24; }
constexpr uint32_t KrSubComponentNumber(uint32_t componentId) { return (componentId >> 16) & 0xFFu; }
constexpr uint32_t KrVerdictIndex(uint32_t componentId) { return componentId >> 16; }
constexpr uint32_t KR_VERDICT_TABLE_SIZE = 65536;

// The static tables; both calls always succeed and the caller must not change
// or free what they hand out.
KRERRLOG_API bool GetKnownComponentLibs(int* count, const char*** names);
KRERRLOG_API bool GetKnownDataFields(int* count, const KNOWNDATAFIELDINFO** fields);
