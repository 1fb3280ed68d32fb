// A callback output that logs through its own logger: the nested line, a writer
// that waits meanwhile, a callback that logs from every line, and a callback
// that tries to change the outputs of the log it runs under.
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/logger/KrNestedLogGuard.h>
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

enum class Log { Error, Audit };

const char* NameOf(Log log) { return log == Log::Error ? "error log" : "audit log"; }

bool Attach(CKrLogger& logger, Log log, CKrLogOutput* output)
{
    return log == Log::Error ? logger.SetLogOutput(output) : logger.EnableAuditLogRollover(output);
}

void Detach(CKrLogger& logger, Log log)
{
    if (log == Log::Error)
        logger.DisableLog();
    else
        logger.DisableAuditLog();
}

bool Send(CKrLogger& logger, Log log, const char* file, int line)
{
    CKrErrLogMessage message(false);
    message.FormatLogProlog(file, line, 0);
    return log == Log::Error ? logger.LogErrMsg(message) : logger.LogAuditMsg(message);
}

CKrErrLogGuard& GuardOf(CKrLogger& logger, Log log)
{
    return log == Log::Error ? CKrLoggerTestPeer::LogGuard(logger) : CKrLoggerTestPeer::AuditGuard(logger);
}

// What the callback sees and does; it runs on one thread at a time.
struct Scenario {
    CKrLogger* logger = nullptr;
    Log log = Log::Error;
    enum class Inside { LogOnce, LogAlways, Attach, Detach } inside = Inside::LogOnce;
    bool waitForWriter = false;
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
        if (s.lines.size() > 1) return;
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
// freed) when a test hangs, since the hung threads still use them.
Scenario* MakeScenario(Log log)
{
    auto* s = new Scenario;
    s->log = log;
    s->logger = CKrLoggerTestPeer::Create();
    EXPECT_TRUE(Attach(*s->logger, log, s->logger->NewLogOutput(0, &Callback, s)));
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
    for (Log log : {Log::Error, Log::Audit}) {
        SCOPED_TRACE(NameOf(log));
        Scenario* s = MakeScenario(log);
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
        EXPECT_TRUE(Send(*s->logger, log, "after.cpp", 3));
        EXPECT_EQ(s->probe.logged.load(), 1);
        Free(s);
    }
}

// A callback that logs from every line it is given ends: the lines nest as deep
// as the per-thread record goes, and the line that would go deeper is refused.
TEST(NestedLogging, CallbackThatAlwaysLogsStopsAtTheNestingLimit)
{
    for (Log log : {Log::Error, Log::Audit}) {
        SCOPED_TRACE(NameOf(log));
        Scenario* s = MakeScenario(log);
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
    for (Log log : {Log::Error, Log::Audit}) {
        for (auto inside : {Scenario::Inside::Attach, Scenario::Inside::Detach}) {
            SCOPED_TRACE(std::string(NameOf(log)) + (inside == Scenario::Inside::Attach ? ", attach" : ", detach"));
            Scenario* s = MakeScenario(log);
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
            ASSERT_EQ(s->lines.size(), 2u);
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
