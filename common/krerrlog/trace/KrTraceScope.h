// A traced function in two lines: KR_TRACE_SCOPE opens one trace call for the
// rest of the scope (named after the function), and the scope's end writes it.
//
//   void Lookup(const char* user) {
//       KR_TRACE_SCOPE(trace, kSessionsComponent);
//       trace.Set(9u, user).Msg("lookup of %s", user);   // User, Message
//   }
//
// Header only, over KrTracing; when the component is not traced every call
// below is one flag test.
#pragma once

#include <krerrlog/trace/KrTracing.h>

class KrTraceScope {
public:
    KrTraceScope(unsigned int componentId, const char* function, const char* file, int line)
        : m_file(file), m_line(line)
    {
        m_bLive = m_trace.BeginEx() && m_trace.LastComp(componentId, function);
    }
    ~KrTraceScope()
    {
        if (m_bLive) m_trace.Done(m_file, m_line);
    }
    KrTraceScope(const KrTraceScope&) = delete;
    KrTraceScope& operator=(const KrTraceScope&) = delete;

    // Whether this call is traced at all (worth computing values for).
    bool On() const { return m_bLive; }
    template <typename Value>
    KrTraceScope& Set(unsigned int fieldId, Value value)
    {
        if (m_bLive) m_trace.SetData(fieldId, value);
        return *this;
    }
    template <typename... Args>
    KrTraceScope& Msg(const char* format, const Args&... args)
    {
        if (m_bLive) m_trace.SetMsg(format, args...);
        return *this;
    }
    KrTracing& Tracing() { return m_trace; }

private:
    KrTracing m_trace;
    bool m_bLive = false;
    const char* m_file;
    int m_line;
};

#define KR_TRACE_SCOPE(name, componentId) KrTraceScope name((componentId), __func__, __FILE__, __LINE__)
