// The operators' check of a trace configuration file (see the header).
#include <krerrlog/trace/internal/KrTraceConfigCheck.h>

#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/trace/CKrTraceData.h>

namespace krerrlog {

namespace {

const char* OperatorText(int op)
{
    switch (op) {
    case KR_FILTER_EQUAL: return "==";
    case KR_FILTER_NOT_EQUAL: return "!=";
    case KR_FILTER_CONTAINS: return "@@";
    case KR_FILTER_NOT_CONTAINS: return "!@";
    default: return "?";
    }
}

}  // namespace

bool TraceConfigCheck::Read(const CKrLogger& logger, const char* path, TraceConfigDiagnostics& diagnostics,
                            TraceConfigSelection& selection)
{
    selection = TraceConfigSelection();
    CKrTraceData record;
    if (!record.PrepareConfiguration(0, "", logger.m_iComponentInfoCount, logger.m_pComponentInfo,
                                     logger.m_pDataFieldInfo, false)) {
        diagnostics.Report(TraceConfigSeverity::Error, 0, "the logger has no trace vocabulary");
        return false;
    }
    if (!record.ReadConfigFile(path, &diagnostics)) return false;

    for (int i = 0; i < record.m_iComponentInfoCount; ++i) {
        const KrTraceComponentInfo& component = record.m_pComponentInfo[i];
        if (component.selected && component.name) selection.components.emplace_back(component.name);
    }
    for (int i = 0; i < KR_KNOWN_DATA_FIELD_COUNT && record.m_fieldOrder[i] != 0; ++i) {
        const KrTraceDataFieldInfo& field = record.m_fields[record.m_fieldOrder[i] - 1];
        selection.fields.emplace_back(field.name ? field.name : "?");
    }
    for (const KrTraceDataFieldInfo& field : record.m_fields) {
        if (!field.filtered) continue;
        selection.filters.push_back(TraceConfigFilter{field.name ? field.name : "?", OperatorText(field.filterOp),
                                                      field.filterValue ? field.filterValue : ""});
    }
    return true;
}

std::vector<std::string> TraceConfigCheck::KnownComponents(const CKrLogger& logger)
{
    std::vector<std::string> names;
    for (int i = 0; i < logger.m_iComponentInfoCount && logger.m_pComponentInfo; ++i) {
        if (logger.m_pComponentInfo[i].name) names.emplace_back(logger.m_pComponentInfo[i].name);
    }
    return names;
}

std::vector<std::string> TraceConfigCheck::KnownFields(const CKrLogger& logger)
{
    std::vector<std::string> names;
    for (int i = 0; i < logger.m_iDataFieldInfoCount && logger.m_pDataFieldInfo; ++i) {
        if (logger.m_pDataFieldInfo[i].name) names.emplace_back(logger.m_pDataFieldInfo[i].name);
    }
    return names;
}

}  // namespace krerrlog
