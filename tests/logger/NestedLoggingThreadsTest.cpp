// A callback output that logs through its own logger: the nested line, a writer
// that waits meanwhile, a callback that logs from every line, and a callback
// that tries to change the outputs of the log it runs under.
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/logger/internal/KrNestedLogGuard.h>
#include <krerrlog/message/CKrErrLogMessage.h>

#include "logger/ProbeOutput.h"
#include "testsupport/LoggerTestPeer.h"
#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

// Reads how many writers wait on a guard.
class CKrGuardTestPeer {
public:
    static int WaitingWriters(CKrErrLogGuard& guard)
    {
        CKrGuard& state = *guard.m_pState;
        state.m_section.Enter();
        const int waiting = state.m_iWaitingWriters;
        state.m_section.Leave();
        return waiting;
    }
};

namespace {

using namespace std::chrono_literals;

enum class Log { Error, Audit, Trace };
constexpr Log kLogs[] = {Log::Error, Log::Audit, Log::Trace};

const char* NameOf(Log log)
{
    return log == Log::Error ? "error log" : log == Log::Audit ? "audit log" : "trace";
}

// A trace configuration that selects the built-in component.
const char* TraceConfig()
{
    static krtest::ScratchDir dir;
    static const std::string path = [] {
        krtest::WriteFile(dir.File("trace.cfg"), "components: Log\n");
        return dir.File("trace.cfg");
    }();
    return path.c_str();
}

bool Attach(CKrLogger& logger, Log log, CKrLogOutput* output)
{
    switch (log) {
    case Log::Error:
        return logger.SetLogOutput(output);
    case Log::Audit:
        return logger.EnableAuditLogRollover(output);
    case Log::Trace:
        return logger.EnableTrace(output, 0, "|", TraceConfig(), false, false, false);
    }
    return false;
}

void Detach(CKrLogger& logger, Log log)
{
    switch (log) {
    case Log::Error:
        return logger.DisableLog();
    case Log::Audit:
        return logger.DisableAuditLog();
    case Log::Trace:
        return logger.DisableTrace(false);
    }
}

bool Send(CKrLogger& logger, Log log, const char* file, int line)
{
    CKrErrLogMessage message(false);
    message.FormatLogProlog(file, line, 0);
    switch (log) {
    case Log::Error:
        return logger.LogErrMsg(message);
    case Log::Audit:
        return logger.LogAuditMsg(message);
    case Log::Trace:
        return logger.LogTraceMsgBuffTracingOFF(message);
    }
    return false;
}

CKrErrLogGuard& GuardOf(CKrLogger& logger, Log log)
{
    return log == Log::Error   ? CKrLoggerTestPeer::LogGuard(logger)
           : log == Log::Audit ? CKrLoggerTestPeer::AuditGuard(logger)
                               : CKrLoggerTestPeer::TraceGuard(logger);
}

// What the callback sees and does; it runs on one thread at a time.
struct Scenario {
    CKrLogger* logger = nullptr;
    Log log = Log::Error;
    enum class Inside { LogOnce, LogAlways, Attach, Detach } inside = Inside::LogOnce;
    bool waitForWriter = false;
    bool nested = false;  // LogOnce has nested its line
    std::atomic<int> entered{0};
    std::vector<std::string> lines;
    std::vector<bool> nestedResults;
    bool attachResult = true;
    ProbeLog probe;
};

void Callback(const char* text, int length, void* parameter)
{
    Scenario& s = *static_cast<Scenario*>(parameter);
    s.lines.emplace_back(text, static_cast<size_t>(length));
    switch (s.inside) {
    case Scenario::Inside::LogOnce:
        if (s.nested) return;
        s.nested = true;
        break;
    case Scenario::Inside::LogAlways:
        break;
    case Scenario::Inside::Attach: {
        auto* output = new ProbeOutput(s.probe);
        s.attachResult = Attach(*s.logger, s.log, output);
        if (!s.attachResult) delete output;  // a refused output stays the caller's
        return;
    }
    case Scenario::Inside::Detach:
        Detach(*s.logger, s.log);
        return;
    }
    s.entered.fetch_add(1);
    if (s.waitForWriter) {
        // The nested line must meet a writer that already waits for the outer one.
        for (int i = 0; i < 60000 && CKrGuardTestPeer::WaitingWriters(GuardOf(*s.logger, s.log)) == 0; ++i)
            std::this_thread::sleep_for(1ms);
        EXPECT_EQ(CKrGuardTestPeer::WaitingWriters(GuardOf(*s.logger, s.log)), 1);
    }
    s.nestedResults.push_back(Send(*s.logger, s.log, "nested.cpp", static_cast<int>(s.lines.size())));
}

// A logger with the scenario's callback on its log. Both are given up (not
// freed) when a test hangs, since the hung threads still use them. Switching
// the trace on writes header lines under the writer side: the callback logs a
// line from inside the first one, which must not wait for that writer.
Scenario* MakeScenario(Log log)
{
    auto* s = new Scenario;
    s->log = log;
    s->logger = CKrLoggerTestPeer::Create();
    bool attached = false;
    if (!krtest::FinishesWithin(30s, [&] { attached = Attach(*s->logger, log, s->logger->NewLogOutput(0, &Callback, s)); }))
        return nullptr;
    EXPECT_TRUE(attached);
    if (log == Log::Trace) {
        EXPECT_GE(s->lines.size(), 3u) << "header lines and the line logged from inside the first";
        EXPECT_EQ(s->nestedResults, std::vector<bool>{true});
    }
    s->lines.clear();
    s->nestedResults.clear();
    s->nested = false;
    s->entered = 0;  // the trace's header lines entered the callback already
    return s;
}

void Free(Scenario* s)
{
    delete s->logger;
    delete s;
}

// The callback logs through its own logger while SetLogOutput (or
// EnableAuditLogRollover) waits on another thread for the outer line: the
// nested line is delivered, then the writer gets in.
TEST(NestedLoggingThreads, CallbackLogsThroughItsLoggerWhileAWriterWaits)
{
    for (Log log : kLogs) {
        SCOPED_TRACE(NameOf(log));
        Scenario* s = MakeScenario(log);
        if (!s) return;
        s->waitForWriter = true;
        bool outerResult = false, replaced = false;
        const bool finished = krtest::FinishesWithin(30s, [&] {
            std::thread outer([&] { outerResult = Send(*s->logger, log, "outer.cpp", 1); });
            krtest::WaitUntilCountReaches(s->entered, 1);
            std::thread writer([&] { replaced = Attach(*s->logger, log, new ProbeOutput(s->probe)); });
            outer.join();
            writer.join();
        });
        if (!finished) return;  // hung: the logger and the scenario stay with the hung threads
        EXPECT_TRUE(outerResult);
        ASSERT_EQ(s->lines.size(), 2u);
        EXPECT_NE(s->lines[1].find("[nested.cpp:1]"), std::string::npos) << s->lines[1];
        EXPECT_EQ(s->nestedResults, std::vector<bool>{true});
        EXPECT_TRUE(replaced);
        const long before = s->probe.logged.load();  // a trace starts with its header lines
        EXPECT_TRUE(Send(*s->logger, log, "after.cpp", 3));
        EXPECT_EQ(s->probe.logged.load(), before + 1);
        Free(s);
    }
}

// A callback that logs from every line it is given ends: the lines nest as deep
// as the per-thread record goes, and the line that would go deeper is refused.
TEST(NestedLogging, CallbackThatAlwaysLogsStopsAtTheNestingLimit)
{
    for (Log log : kLogs) {
        SCOPED_TRACE(NameOf(log));
        Scenario* s = MakeScenario(log);
        if (!s) return;
        s->inside = Scenario::Inside::LogAlways;
        bool outerResult = false;
        if (!krtest::FinishesWithin(30s, [&] { outerResult = Send(*s->logger, log, "outer.cpp", 1); })) return;
        constexpr int kDepth = krerrlog::NestedReadRecord::kMaxHeldGuards;
        EXPECT_TRUE(outerResult);
        EXPECT_EQ(s->lines.size(), static_cast<size_t>(kDepth));
        std::vector<bool> expected(kDepth, true);
        expected.front() = false;  // the innermost call returns first
        EXPECT_EQ(s->nestedResults, expected);
        // The record is empty again: the next line takes the guard as usual.
        EXPECT_FALSE(krerrlog::NestedReadRecord::ThreadReadsUnder(&GuardOf(*s->logger, log)));
        Free(s);
    }
}

// A callback that attaches or detaches an output of the log it runs under would
// wait for its own read hold: it is refused and the callback output stays.
TEST(NestedLoggingThreads, CallbackCannotChangeTheOutputsOfItsOwnLog)
{
    for (Log log : kLogs) {
        for (auto inside : {Scenario::Inside::Attach, Scenario::Inside::Detach}) {
            SCOPED_TRACE(std::string(NameOf(log)) + (inside == Scenario::Inside::Attach ? ", attach" : ", detach"));
            Scenario* s = MakeScenario(log);
            if (!s) return;
            s->inside = inside;
            bool first = false, second = false;
            if (!krtest::FinishesWithin(30s, [&] {
                    first = Send(*s->logger, log, "first.cpp", 1);
                    s->inside = Scenario::Inside::LogOnce;
                    second = Send(*s->logger, log, "second.cpp", 2);
                }))
                return;
            EXPECT_TRUE(first);
            EXPECT_TRUE(second);  // still the callback output
            ASSERT_EQ(s->lines.size(), 3u);  // the second nests one of its own
            EXPECT_NE(s->lines[1].find("[second.cpp:2]"), std::string::npos);
            if (inside == Scenario::Inside::Attach) {
                EXPECT_FALSE(s->attachResult);
                EXPECT_EQ(s->probe.opened.load(), 0);
            }
            Free(s);
        }
    }
}

}  // namespace
