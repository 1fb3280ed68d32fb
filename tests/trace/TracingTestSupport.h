// Shared by the tracing tests: a scratch folder with configuration files, the
// ids of the built-in component and its sub-component, and a traced call.
#pragma once

#include <krerrlog/krerrlog.h>

#include "testsupport/LoggerTestPeer.h"
#include "testsupport/TestFiles.h"

#include <cstring>
#include <string>

namespace krtest {

// The id of a component of the logger's list by name ("Log", "Log/Legacy").
inline unsigned int ComponentId(CKrLogger& logger, const char* name)
{
    int count = 0;
    const KrTraceComponentInfo* info = CKrLoggerTestPeer::ComponentInfo(logger, count);
    for (int i = 0; i < count; ++i) {
        if (info[i].name && std::strcmp(info[i].name, name) == 0) return info[i].id;
    }
    return 0;
}

// The selected sub-component and its unselected parent, with configuration
// files that select only the sub-component.
struct TraceScene {
    ScratchDir dir;
    unsigned int selected = ComponentId(*theLogger(), "Log/Legacy");
    unsigned int unselected = ComponentId(*theLogger(), "Log");

    std::string Config(const std::string& name, const std::string& dataAndFilters)
    {
        const std::string path = dir.File(name);
        WriteFile(path, "components: Log/Legacy\n" + dataAndFilters);
        return path;
    }
    CKrLogOutput* File(const std::string& name) { return theLogger()->NewLogOutput(1, dir.File(name).c_str(), 1, 64, 1); }
    std::string Read(const std::string& name) { return ReadFile(dir.File(name)); }
};

// One traced call of the usual shape on the process-wide logger.
inline void TracedCall(unsigned int component, const char* user, int n, const char* file = "src/dir/a.cpp",
                       int line = 42)
{
    KrTracing trace;
    if (!trace.BeginEx()) return;
    trace.AddComp(component);
    if (trace.NeedTracing() || trace.InMemoryNeedTracing()) {
        trace.SetData(9u, user);
        trace.SetMsg("n=%s", n);
    }
    trace.Done(file, line);
}

// Switches both traces off again when a test ends.
struct TracesOffAtEnd {
    ~TracesOffAtEnd()
    {
        theLogger()->DisableTrace(false);
        theLogger()->DisableInMemoryTrace();
    }
};

}  // namespace krtest
