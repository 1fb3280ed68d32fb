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

}  // namespace krerrlog
