// The per-call tracing facade: a traced function holds a KrTracing on its
// stack for one trace call; CKrTraceSupresser silences tracing on a thread for
// a scope; CKrRequestContext keeps one host pointer per thread.
#pragma once

#include <krerrlog/KrExport.h>
#include <krerrlog/message/KrToString.h>

class CKrTraceData;
class CKrLogger;

// A typical call:
//   KrTracing t;
//   if (t.BeginEx()) {
//       t.AddComp(componentId);
//       if (t.NeedTracing() || t.InMemoryNeedTracing()) { t.SetData(9, user); t.SetMsg("took %s", ms); }
//       t.Done(__FILE__, __LINE__);
//   }
// One object is used by one thread; it holds no resources and throws nothing.
class KRERRLOG_API KrTracing {
public:
    static constexpr int kMaxMessageArguments = 14;

    // Whether any trace kind is on at all; takes no record from the pool.
    bool BeginEx();
    // The caller's record serves the file trace (or, when that is off, the
    // in-memory trace); the other kind uses the thread's own record, so each
    // record only ever carries the configuration of one kind.
    bool BeginExWobj(CKrTraceData& record);
    // For lines of no component: takes the thread's records at once.
    bool TraceLogBegin();

    void AddComp(unsigned int componentId);
    bool LastComp(unsigned int componentId, const char* function);
    bool IsEnabled() const { return m_bEnabled || m_bInMemEnabled; }
    bool NeedTracing() const { return m_bTraced && m_pTraceData; }
    bool InMemoryNeedTracing() const { return m_bInMemTraced && m_pInMemTraceData; }

    // Field ids of 67 and more are ignored. Texts are referenced, not copied:
    // they must stay valid until Done.
    void SetData(unsigned int id, int value);
    void SetData(unsigned int id, long value);
    void SetData(unsigned int id, long long value);
    void SetData(unsigned int id, unsigned int value);
    void SetData(unsigned int id, unsigned long value);
    void SetData(unsigned int id, unsigned long long value);
    void SetData(unsigned int id, bool value);
    void SetData(unsigned int id, const char* value);

    // The message with up to 14 arguments, each anything a __ToString__ is made from.
    template <typename... Args>
    void SetMsg(const char* format, const Args&... args)
    {
        static_assert(sizeof...(Args) <= kMaxMessageArguments, "at most 14 arguments");
        krerrlog::WithArgumentTexts(
            [this, format](int count, const char** texts) {
                SetMsgVA(format, count, texts);
                return 0;
            },
            args...);
    }
    void SetMsgVA(const char* format, int count, const char** texts);

    // Fills clock, source position, ids and tag, writes the line(s) and clears the records.
    void Done(const char* file, int line);
    // Done with the base name alone for a line below 1, and the in-memory line
    // in the configured layout rather than the bar-separated one.
    void DoneEx(const char* file, int line);

private:
    bool Begin(CKrLogger* logger);
    template <typename Value>
    void Store(unsigned int id, Value value);
    void Finish(const char* file, int line, bool extended);

    // Cleared here too, so that Done on an object no begin has set writes nothing.
    CKrTraceData* m_pTraceData = nullptr;
    bool m_bFiltered = false;
    bool m_bTraced = false;
    bool m_bEnabled = false;
    CKrTraceData* m_pInMemTraceData = nullptr;
    bool m_bInMemTraced = false;
    bool m_bInMemEnabled = false;
    // The logger the call asks and takes the thread's records from: the
    // process-wide one, or the logger of the record given to BeginExWobj.
    CKrLogger* m_pLogger = nullptr;
};

// Silences LastComp on the calling thread for the object's scope.
class KRERRLOG_API CKrTraceSupresser {
public:
    CKrTraceSupresser();
    ~CKrTraceSupresser();
    CKrTraceSupresser(const CKrTraceSupresser&) = delete;
    CKrTraceSupresser& operator=(const CKrTraceSupresser&) { return *this; }

    static bool isTracing();
    static void setTracing(bool on);
};

// One pointer per thread for the host's own use; the library never reads it.
class KRERRLOG_API CKrRequestContext {
public:
    static void* GetRequestContextData();
    static void SetRequestContextData(void* data);
};
