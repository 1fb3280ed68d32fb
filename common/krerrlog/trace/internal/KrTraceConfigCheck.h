// The operators' check of a trace configuration file: the file read with a
// logger's vocabulary exactly as enabling a trace reads it, what the reader
// refused or passed over, and what the file selects.
#pragma once

#include <krerrlog/trace/internal/KrTraceConfigDiagnostics.h>

#include <string>
#include <vector>

class CKrLogger;

namespace krerrlog {

struct TraceConfigFilter {
    std::string field;
    std::string op;     // "==", "!=", "@@" or "!@"
    std::string value;  // exactly as compared, blanks included
};

struct TraceConfigSelection {
    std::vector<std::string> components;     // selected, in the logger's list order
    std::vector<std::string> fields;         // traced, in the order trace lines show them
    std::vector<TraceConfigFilter> filters;  // in field id order
};

class TraceConfigCheck {
public:
    // False when the reader refuses the file; the diagnostics say where and why.
    static bool Read(const CKrLogger& logger, const char* path, TraceConfigDiagnostics& diagnostics,
                     TraceConfigSelection& selection);
    // The names a file may use: components and sub-components the logger
    // knows (from its component libraries), and the data fields.
    static std::vector<std::string> KnownComponents(const CKrLogger& logger);
    static std::vector<std::string> KnownFields(const CKrLogger& logger);
};

}  // namespace krerrlog
