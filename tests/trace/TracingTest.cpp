// Trace routing, trace decisions and the tracing facade on one thread: the
// bytes of trace files and in-memory dumps, versions, bad input.
#include "TracingTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

using namespace krtest;
using Peer = CKrLoggerTestPeer;

namespace {

std::string Padded(const std::string& text, size_t width) { return text + std::string(width - text.size(), ' '); }

TEST(TraceRouting, TracedLinesInEveryLayoutByteForByte)
{
    // User (width 32), Message (64), SrcFile (32).
    const std::string fixedHeader = Padded("User", 32) + "  " + Padded("Message", 64) + "  " + Padded("SrcFile", 32);
    const std::string fixedRule =
        std::string(32, '=') + "  " + std::string(64, '=') + "  " + std::string(32, '=');
    const std::string fixedLine = Padded("alice", 32) + "  " + Padded("n=42", 64) + "  " + Padded("a.cpp:42", 32);
    const struct { int format; const char* delimiter; std::string expected; } cases[] = {
        {0, nullptr, "[User][Message][SrcFile]\n[====][=======][=======]\n[alice][n=42][a.cpp:42]\n"},
        {1, nullptr, fixedHeader + "\n" + fixedRule + "\n" + fixedLine + "\n"},
        {2, ";", "User;Message;SrcFile\n====;=======;=======\nalice;n=42;a.cpp:42\n"},
        {3, nullptr, "<TraceMessage>\t<User>alice</User>\t<Message>n=42</Message>\t"
                     "<SrcFile>a.cpp:42</SrcFile></TraceMessage>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        TraceScene scene;
        TracesOffAtEnd off;
        ASSERT_TRUE(theLogger()->EnableTrace(scene.File("t.log"), c.format, c.delimiter,
                                             scene.Config("c", "data: User, Message, SrcFile\n").c_str(), false,
                                             false, false));
        TracedCall(scene.unselected, "bob", 1);  // not selected: no line
        TracedCall(scene.selected, "alice", 42);
        EXPECT_EQ(scene.Read("t.log"), c.expected);
    }
}

TEST(TraceRouting, VersionsOnlyGrowAlsoWhenTheNewOutputFailsToOpen)
{
    TraceScene scene;
    TracesOffAtEnd off;
    CKrLogger& logger = *theLogger();
    const std::string config = scene.Config("c", "data: Message\n");
    ASSERT_TRUE(logger.EnableTrace(scene.File("a.log"), 0, nullptr, config.c_str(), false, false, false));
    const int first = Peer::TraceConfigVersion(logger);
    EXPECT_GT(first, CKrLogger::m_iConfigVersion);

    // The configuration is dropped before the output fails to open: tracing
    // is off, and the dropped number is kept.
    CKrLogOutput* unopenable = logger.NewLogOutput(1, scene.dir.File("missing/dir/t.log").c_str(), 1, 1, 1);
    EXPECT_FALSE(logger.EnableTrace(unopenable, 0, nullptr, config.c_str(), false, false, false));
    delete unopenable;  // still the caller's
    EXPECT_FALSE(logger.TraceEnabled(0));
    EXPECT_EQ(CKrLogger::m_iConfigVersion, first);

    ASSERT_TRUE(logger.EnableTrace(scene.File("b.log"), 0, nullptr, config.c_str(), false, false, false));
    EXPECT_EQ(Peer::TraceConfigVersion(logger), first + 1);
    logger.DisableTrace(false);
    EXPECT_EQ(CKrLogger::m_iConfigVersion, first + 1);
    ASSERT_TRUE(logger.EnableTrace(scene.File("c.log"), 0, nullptr, config.c_str(), false, false, false));
    EXPECT_EQ(Peer::TraceConfigVersion(logger), first + 2);

    // keepConfig replaces only the primary output; the version stays.
    ASSERT_TRUE(logger.EnableTrace(scene.File("d.log"), 3, nullptr, config.c_str(), false, true, false));
    EXPECT_EQ(Peer::TraceConfigVersion(logger), first + 2);
    TracedCall(scene.selected, "u", 7);
    EXPECT_EQ(scene.Read("d.log"), "[n=7]\n");  // the kept layout, and no header for format 3
}

TEST(TraceRouting, BadConfigurationsAndOutputsLeaveTheTraceAsItWas)
{
    TraceScene scene;
    TracesOffAtEnd off;
    CKrLogger& logger = *theLogger();
    ASSERT_TRUE(logger.EnableTrace(scene.File("t.log"), 2, ",",
                                   scene.Config("good", "data: User, Message\n").c_str(), false, false, false));
    WriteFile(scene.dir.File("binary"), std::string("\x7f" "ELF\0\x01\xff\xfe", 8));
    WriteFile(scene.dir.File("no-data"), "components: Log\nUser == x\n");
    const struct { const char* name; CKrLogOutput* out; std::string config; } refused[] = {
        {"missing file", scene.File("x.log"), scene.dir.File("absent")},
        {"binary file", scene.File("x.log"), scene.dir.File("binary")},
        {"no data line", scene.File("x.log"), scene.dir.File("no-data")},
        {"null output", nullptr, scene.dir.File("good")},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(logger.EnableTrace(c.out, 2, ",", c.config.c_str(), false, false, false));
        EXPECT_FALSE(logger.EnableInMemoryTrace(c.out, c.config.c_str(), false, false));
        delete c.out;
    }
    EXPECT_FALSE(logger.EnableTrace(nullptr, 0, nullptr, nullptr, false, false, false));
    CKrLogOutput* spare = scene.File("x.log");
    EXPECT_FALSE(logger.EnableTrace(spare, 0, nullptr, nullptr, false, false, false));
    delete spare;
    TracedCall(scene.selected, "alice", 1);
    EXPECT_EQ(scene.Read("t.log"), "User,Message\n====,=======\nalice,n=1\n");

    // The file changes between two enabling calls: the new one takes effect.
    WriteFile(scene.dir.File("good"), "components: Log/Legacy\ndata: Message\n");
    ASSERT_TRUE(logger.EnableTrace(scene.File("t.log"), 0, nullptr, scene.dir.File("good").c_str(), false, false,
                                   false));
    TracedCall(scene.selected, "alice", 2);
    EXPECT_EQ(scene.Read("t.log"), "User,Message\n====,=======\nalice,n=1\n[Message]\n[=======]\n[n=2]\n");

    // An empty file is a configuration that selects nothing.
    WriteFile(scene.dir.File("empty"), "");
    ASSERT_TRUE(logger.EnableTrace(scene.File("e.log"), 0, nullptr, scene.dir.File("empty").c_str(), false, false,
                                   false));
    TracedCall(scene.selected, "alice", 3);
    EXPECT_EQ(scene.Read("e.log"), "\n\n");  // empty header lines, no trace line
}

TEST(TraceRouting, OutputsAndTheirGuardsByType)
{
    TraceScene scene;
    TracesOffAtEnd off;
    CKrLogger& logger = *theLogger();
    const std::string config = scene.Config("c", "data: Message\n");
    CKrErrLogMessage message(false);
    EXPECT_TRUE(logger.LogTraceMsg(message));  // no output: dropped, but the logger is initialised
    EXPECT_FALSE(logger.LogTraceMsgBuffTracingOFF(message));
    EXPECT_TRUE(logger.LogInMemoryTraceMsg(message));

    auto asyncCallback = +[](const char*, int, void (*freeText)(char*)) { (void)freeText; };
    CKrLogOutput* async = logger.NewLogOutput(0, asyncCallback);
    CKrLogOutput* second = scene.File("second.log");
    EXPECT_FALSE(logger.EnableTrace(async, second, 0, nullptr, config.c_str(), false, false, false));
    delete async;

    auto syncCallback = +[](const char*, int) {};
    CKrLogOutput* primary = logger.NewLogOutput(0, syncCallback);
    ASSERT_TRUE(logger.EnableTrace(primary, second, 0, nullptr, config.c_str(), false, false, false));
    EXPECT_EQ(logger.GetTraceOutput(1), second);
    EXPECT_EQ(logger.GetTraceOutput(2), primary);
    EXPECT_EQ(logger.GetTraceOutput(6), nullptr);
    logger.DisableTrace(true);  // keeps the configuration and the secondary output
    EXPECT_EQ(logger.GetTraceOutput(1), second);
    EXPECT_TRUE(logger.TraceEnabled(0));

    // Buffered: the buffered guard carries the trace (written unbuffered for now).
    ASSERT_TRUE(logger.EnableTrace(scene.File("b.log"), 0, nullptr, config.c_str(), false, false, true));
    EXPECT_TRUE(logger.GetBufferedTracing());
    TracedCall(scene.selected, "u", 5);
    logger.DisableTrace(false);
    logger.SetBufferedTracing(false);
    EXPECT_EQ(scene.Read("b.log"), "[Message]\n[=======]\n[n=5]\n");
}

TEST(TraceDecisions, VerdictsRecordsAndErrorCodes)
{
    TraceScene scene;
    TracesOffAtEnd off;
    CKrLogger& logger = *theLogger();
    errno = 0;
    CKrTraceData* none = nullptr;
    EXPECT_FALSE(logger.TraceEnabled(scene.selected));
    EXPECT_FALSE(logger.TraceAlloc(&none));
    ASSERT_TRUE(logger.EnableTrace(scene.File("t.log"), 0, nullptr, scene.Config("c", "data: Message\n").c_str(),
                                   false, false, false));
    EXPECT_TRUE(logger.TraceEnabled(0));
    EXPECT_FALSE(logger.TraceEnabled(scene.unselected));
    EXPECT_EQ(Peer::TraceVerdict(logger, scene.unselected), -1);
    EXPECT_TRUE(logger.TraceEnabled(scene.selected));
    EXPECT_EQ(Peer::TraceVerdict(logger, scene.selected), 1);
    EXPECT_TRUE(logger.FieldTraced(0));
    EXPECT_FALSE(logger.FieldTraced(9));
    EXPECT_FALSE(logger.InMemoryTraceEnabled(scene.selected));

    CKrTraceData own;
    EXPECT_FALSE(logger.ShouldTrace(0, &own));
    EXPECT_FALSE(logger.ShouldTrace(scene.selected, nullptr));
    EXPECT_TRUE(logger.ShouldTrace(scene.selected, &own));
    EXPECT_EQ(own.GetVersion(), Peer::TraceConfigVersion(logger));

    // A thread that never traced holds nothing, and asking takes nothing.
    std::thread([&] {
        EXPECT_EQ(logger.GetLocalKrTraceData(), nullptr);
        CKrTraceData* record = nullptr;
        EXPECT_FALSE(logger.ShouldTraceAlloc(scene.unselected, &record));
        EXPECT_EQ(logger.GetLocalKrTraceData(), nullptr);
        EXPECT_TRUE(logger.ShouldTraceAlloc(scene.selected, &record));
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record, logger.GetLocalKrTraceData());
        EXPECT_EQ(record->GetVersion(), Peer::TraceConfigVersion(logger));
        EXPECT_FALSE(logger.TraceAlloc(&record));  // already holds one
        EXPECT_FALSE(logger.TraceAlloc(nullptr));
    }).join();
    EXPECT_EQ(errno, 0);

    // A new configuration: the verdicts are asked again.
    ASSERT_TRUE(logger.EnableTrace(scene.File("t.log"), 0, nullptr, scene.Config("c2", "data: User\n").c_str(),
                                   false, false, false));
    EXPECT_EQ(Peer::TraceVerdict(logger, scene.unselected), 0);
    EXPECT_TRUE(logger.FieldTraced(9));
}

TEST(TraceRouting, InMemoryTraceDumpHoldsHeadersAndLines)
{
    TraceScene scene;
    TracesOffAtEnd off;
    CKrLogger& logger = *theLogger();
    EXPECT_FALSE(logger.DisableInMemoryTrace());
    EXPECT_FALSE(logger.SetInMemoryTraceFilePath("x"));
    CKrLogOutput* area = logger.NewLogOutput(0, 1);
    ASSERT_NE(area, nullptr);
    EXPECT_EQ(logger.NewLogOutput(0, 4), area);
    EXPECT_FALSE(logger.InMemoryTraceStatus());
    ASSERT_TRUE(logger.EnableInMemoryTrace(area, scene.Config("m", "data: User, Realm, Message, SrcFile\n").c_str(),
                                           false, false));
    EXPECT_TRUE(logger.InMemoryTraceStatus());
    EXPECT_TRUE(logger.SetInMemoryTraceFilePath((scene.dir.Path() + "/").c_str()));
    EXPECT_TRUE(logger.InMemoryTraceEnabled(12345));

    TracedCall(scene.selected, "alice", 1);
    TracedCall(scene.unselected, "bob", 2);
    {
        KrTracing trace;  // DoneEx: the in-memory record in its own (bracketed) layout
        ASSERT_TRUE(trace.BeginEx());
        trace.AddComp(scene.selected);
        trace.SetData(9u, "carol");
        trace.DoneEx("b.cpp", 0);
    }
    logger.DumpTrace();
    const std::vector<std::string> files = scene.dir.List();
    std::string dump;
    for (const std::string& name : files) {
        if (name.rfind("dump.inmem_trace_", 0) == 0) dump = scene.Read(name);
    }
    EXPECT_EQ(dump, "User|Realm|Message|SrcFile|\n\nalice||n=1|a.cpp:42|\n[carol][][][b.cpp]\n");
    EXPECT_TRUE(logger.DisableInMemoryTrace());
    EXPECT_FALSE(logger.InMemoryTraceStatus());
    EXPECT_NE(logger.NewLogOutput(0, 1), nullptr);  // a new one after the switch-off
    EXPECT_TRUE(logger.EnableInMemoryTrace(logger.NewLogOutput(0, 1), scene.dir.File("m").c_str(), true, false));
}

TEST(TracingFacade, FiltersTagsPositionsAndBadInput)
{
    TraceScene scene;
    TracesOffAtEnd off;
    CKrLogger& logger = *theLogger();
    {
        KrTracing off;  // tracing off everywhere
        EXPECT_FALSE(off.BeginEx());
        off.Done("a.cpp", 1);
        KrTracing unset;  // Done without any begin writes nothing either
        unset.Done(nullptr, 0);
    }
    ASSERT_TRUE(logger.EnableTrace(scene.File("t.log"), 2, "|",
                                   scene.Config("c", "data: User, SrcFile, Tag\nUser ==alice\n").c_str(), false,
                                   false, false));
    CKrLogOutput* area = logger.NewLogOutput(0, 1);
    ASSERT_TRUE(logger.EnableInMemoryTrace(area, scene.Config("m", "data: User, Tag\n").c_str(), false, false));
    const std::string header = "User|SrcFile|Tag\n====|=======|===\n";
    // A position longer than the record's position buffer becomes a long text.
    const std::string longName(1500, 'n');
    const std::string longLine = "alice|" + longName + ":7|AGENTTRACELOG\n";
    const struct { const char* name; const char* env; bool tag; const char* user; const char* file; int line;
                   bool extended; const char* expected; } cases[] = {
        {"filtered out", nullptr, false, "bob", "a.cpp", 1, false, ""},
        {"default tag", nullptr, false, "alice", "src/dir/a.cpp", 42, false, "alice|a.cpp:42|AGENTTRACELOG\n"},
        {"backslash path", "other", false, "alice", "c:\\src\\b.cpp", -5, false, "alice|b.cpp:-5|AGENTTRACELOG\n"},
        {"installed", "INSTALLED", true, "alice", "a.cpp", 3, false, "alice|a.cpp:3|KRTRACELOG\n"},
        {"tag enabled", nullptr, true, "alice", "a.cpp", 0, true, "alice|a.cpp|ZDLTRACELOG\n"},
        {"null texts", nullptr, false, nullptr, nullptr, INT_MIN, false, ""},  // null user fails ==alice
        {"long name", nullptr, false, "alice", longName.c_str(), 7, false, longLine.c_str()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.env) setenv("HALV_PS_OPACK", c.env, 1); else unsetenv("HALV_PS_OPACK");
        logger.EnableTag(c.tag);
        const size_t before = scene.Read("t.log").size();
        KrTracing trace;
        ASSERT_TRUE(trace.BeginEx());
        EXPECT_TRUE(trace.LastComp(scene.selected, nullptr));
        trace.SetData(9u, c.user);
        trace.SetMsg(nullptr);
        c.extended ? trace.DoneEx(c.file, c.line) : trace.Done(c.file, c.line);
        EXPECT_EQ(scene.Read("t.log").substr(before), before == 0 ? header + c.expected : c.expected);
    }
    unsetenv("HALV_PS_OPACK");
    logger.EnableTag(false);

    // Field ids of 67 and more, through every overload: ignored, the call stays live.
    KrTracing trace;
    ASSERT_TRUE(trace.BeginEx());
    trace.AddComp(scene.selected);
    for (unsigned id : {67u, 1000u, UINT_MAX}) {
        trace.SetData(id, 1);
        trace.SetData(id, 1L);
        trace.SetData(id, 1LL);
        trace.SetData(id, 1u);
        trace.SetData(id, 1UL);
        trace.SetData(id, 1ULL);
        trace.SetData(id, true);
        trace.SetData(id, "x");
    }
    trace.SetData(9u, "alice");
    trace.SetMsg("%s %s %s %s %s %s %s %s %s %s %s %s %s %s", 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14);
    const size_t before = scene.Read("t.log").size();
    trace.Done("z.cpp", 9);
    EXPECT_EQ(scene.Read("t.log").substr(before), "alice|z.cpp:9|AGENTTRACELOG\n");

    // Suppression only silences LastComp.
    {
        CKrTraceSupresser quiet;
        EXPECT_FALSE(CKrTraceSupresser::isTracing());
        KrTracing silenced;
        ASSERT_TRUE(silenced.BeginEx());
        EXPECT_FALSE(silenced.LastComp(scene.selected, "f"));
        CKrTraceSupresser::setTracing(true);
        EXPECT_TRUE(CKrTraceSupresser::isTracing());
        CKrTraceSupresser::setTracing(false);
    }
    EXPECT_TRUE(CKrTraceSupresser::isTracing());
}

TEST(TracingFacade, OwnRecordAndRequestContext)
{
    TraceScene scene;
    TracesOffAtEnd off;
    CKrLogger& logger = *theLogger();
    ASSERT_TRUE(logger.EnableTrace(scene.File("t.log"), 0, nullptr, scene.Config("c", "data: User\n").c_str(), false,
                                   false, false));
    CKrLogOutput* area = logger.NewLogOutput(0, 1);
    ASSERT_TRUE(logger.EnableInMemoryTrace(area, scene.Config("m", "data: Realm, User\n").c_str(), false, false));

    // The caller's record serves the file trace only: it never takes the
    // in-memory configuration, and the in-memory line uses the thread's own record.
    CKrTraceData own;
    for (int round = 0; round < 2; ++round) {
        KrTracing trace;
        ASSERT_TRUE(trace.BeginExWobj(own));
        trace.AddComp(scene.selected);
        EXPECT_TRUE(trace.NeedTracing());
        EXPECT_TRUE(trace.InMemoryNeedTracing());
        trace.SetData(9u, "alice");
        trace.SetData(12u, "corp");
        trace.Done("a.cpp", 1);
        EXPECT_EQ(own.GetVersion(), Peer::TraceConfigVersion(logger));
    }
    EXPECT_EQ(scene.Read("t.log"), "[User]\n[====]\n[alice]\n[alice]\n");

    // TraceLogBegin needs "Message" traced in one of the two.
    KrTracing noComponent;
    EXPECT_FALSE(noComponent.TraceLogBegin());
    noComponent.Done("a.cpp", 1);

    EXPECT_EQ(CKrRequestContext::GetRequestContextData(), nullptr);
    int mine = 0;
    CKrRequestContext::SetRequestContextData(&mine);
    std::thread([] { EXPECT_EQ(CKrRequestContext::GetRequestContextData(), nullptr); }).join();
    EXPECT_EQ(CKrRequestContext::GetRequestContextData(), &mine);
    CKrRequestContext::SetRequestContextData(nullptr);
}

TEST(TracingFacade, ScopeHelperWritesOneLineWhenTheScopeEnds)
{
    TraceScene scene;
    TracesOffAtEnd off;
    ASSERT_TRUE(theLogger()->EnableTrace(scene.File("t.log"), 2, ";",
                                         scene.Config("c", "data: Function, User, Message\n").c_str(), false, false,
                                         false));
    auto traced = [](unsigned int component) {
        KR_TRACE_SCOPE(trace, component);
        trace.Set(9u, "alice").Msg("m%s", 1);
        return trace.On();
    };
    EXPECT_FALSE(traced(scene.unselected));
    EXPECT_TRUE(traced(scene.selected));
    {
        CKrTraceSupresser quiet;
        EXPECT_FALSE(traced(scene.selected));
    }
    EXPECT_EQ(scene.Read("t.log"), "Function;User;Message\n========;====;=======\noperator();alice;m1\n");
}

TEST(TraceRouting, KrInitLoggerStartsAFileTrace)
{
    TraceScene scene;
    TracesOffAtEnd off;
    const std::string config = scene.Config("c", "data: User, Message\n");
    const std::string path = scene.dir.File("init.log");
    EXPECT_FALSE(KrInitLogger(true, false, 0, 2, ";", config.c_str(), "", 1, 0));
    EXPECT_FALSE(KrInitLogger(true, false, 0, 2, ";", "", path.c_str(), 1, 0));
    EXPECT_FALSE(KrInitLogger(true, false, 0, 2, ";", nullptr, nullptr, 1, 0));
    EXPECT_EQ(FileMode(path), -1);

    WriteFile(path, "old\n");
    const bool tagBefore = theLogger()->IsTagEnabled();
    ASSERT_TRUE(KrInitLogger(false, false, 5, 2, ";", config.c_str(), path.c_str(), 2, 2));
    EXPECT_EQ(theLogger()->IsTagEnabled(), tagBefore);
    TracedCall(scene.selected, "alice", 1);
    EXPECT_EQ(ReadFile(path), "User;Message\n====;=======\nalice;n=1\n");  // the old file was rolled over
    EXPECT_EQ(FileMode(path), 0600);
    int backups = 0;
    for (const std::string& name : scene.dir.List()) {
        if (name != "c" && name != "init.log") backups += ReadFile(scene.dir.File(name)) == "old\n" ? 1 : 0;
    }
    EXPECT_EQ(backups, 1);
}

}  // namespace
