// Where and why the trace configuration reader refused a file or passed over
// part of it. The reader reports to a sink when one is given and reads
// exactly as without one; the enabling calls give none.
#pragma once

#include <string>

namespace krerrlog {

enum class TraceConfigSeverity {
    Error,    // the reader refuses the file: the enabling call fails
    Warning,  // the reader ignores a word or skips a line and reads on
};

class TraceConfigDiagnostics {
public:
    virtual ~TraceConfigDiagnostics() = default;
    // line: 1 for the file's first line; 0 for the file as a whole.
    virtual void Report(TraceConfigSeverity severity, int line, const std::string& text) = 0;
};

}  // namespace krerrlog
