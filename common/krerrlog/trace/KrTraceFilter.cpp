// The configuration queries of a record and its filter test. They run on a
// thread's own copy without locks (the configuration store is immutable once
// installed), or on the master under the logger's reader lock.
#include <krerrlog/trace/CKrTraceData.h>

#include <string_view>

bool CKrTraceData::ComponentSelected(unsigned int id)
{
    const KrTraceComponentInfo* entry = GetComponentInfo(id);
    return entry && entry->selected;
}

bool CKrTraceData::FieldTraced(unsigned int id)
{
    const KrTraceDataFieldInfo* field = GetDataFieldInfo(id);
    return field && field->traced;
}

bool CKrTraceData::FieldFiltered(unsigned int id)
{
    const KrTraceDataFieldInfo* field = GetDataFieldInfo(id);
    return field && field->filtered;
}

bool CKrTraceData::TestDataFilter(unsigned int id)
{
    const KrTraceDataFieldInfo* field = GetDataFieldInfo(id);
    if (!field) return false;
    // An unset value compares as an empty text; an empty filter text occurs in every value.
    const std::string_view value = field->value ? field->value : "";
    const std::string_view filter = field->filterValue ? field->filterValue : "";
    switch (field->filterOp) {
    case KR_FILTER_EQUAL:
        return value == filter;
    case KR_FILTER_NOT_EQUAL:
        return value != filter;
    case KR_FILTER_CONTAINS:
        return value.find(filter) != std::string_view::npos;
    case KR_FILTER_NOT_CONTAINS:
        return value.find(filter) == std::string_view::npos;
    default:
        return false;
    }
}
