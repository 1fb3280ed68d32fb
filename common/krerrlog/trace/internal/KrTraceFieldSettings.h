// What a trace configuration decides about one data field, copied without the
// values of a trace call.
#pragma once

#include <krerrlog/trace/KrTraceVocabulary.h>

namespace krerrlog {

// The filter text is passed separately: records share it or own a copy.
inline void CopyFieldSettings(KrTraceDataFieldInfo& to, const KrTraceDataFieldInfo& from, char* filterValue)
{
    to.traced = from.traced;
    to.filtered = from.filtered;
    to.id = from.id;
    to.name = from.name;
    to.valueType = from.valueType;
    to.width = from.width;
    to.filterValue = filterValue;
    to.filterOp = from.filterOp;
}

// Fills the KR_KNOWN_DATA_FIELD_COUNT entries of table from the known data
// fields: entry i gets id i, the field's name and width, everything else as
// a fresh entry has it.
inline void FillKnownDataFieldInfo(KrTraceDataFieldInfo* table)
{
    int count = 0;
    const KNOWNDATAFIELDINFO* known = nullptr;
    GetKnownDataFields(&count, &known);
    for (int i = 0; i < KR_KNOWN_DATA_FIELD_COUNT && i < count; ++i) {
        table[i].id = static_cast<uint32_t>(i);
        table[i].name = known[i].name;
        table[i].width = known[i].width;
    }
}

}  // namespace krerrlog
