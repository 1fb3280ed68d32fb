// Running out of memory along the main paths: making a logger, making and
// attaching outputs, formatting and logging an error line, switching a trace
// on and tracing from a new thread. For every n, the
// n-th allocation of the path fails (alone, or with all after it); the path
// must not crash or throw, must report the documented result and leave no
// half-made state (AddressSanitizer finds what leaks).
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/logger/CKrLoggerList.h>
#include <krerrlog/message/CKrErrLogMessage.h>

#include "../trace/TracingTestSupport.h"
#include "testsupport/AllocationCounter.h"
#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

namespace {

constexpr long kGiveUpAfter = 20000;  // no main path allocates this often

// Runs path with its n-th allocation failing, for n = 1, 2, ... until the path
// gets through without meeting the failure; check(n, refused) runs after each
// attempt with allocations working again. Returns the number of attempts. The
// path runs on the calling thread, or on a new thread for each attempt.
long ForEveryFailingAllocation(bool andAllAfter, const std::function<void()>& path,
                               const std::function<void(long n)>& check, bool onNewThread = false)
{
    for (long n = 1; n < kGiveUpAfter; ++n) {
        bool refused = false;
        bool threw = false;
        auto attempt = [&] {
            try {
                krtest::FailingAllocations failing(n, andAllAfter);
                path();
                refused = failing.Refused();
            } catch (...) {
                threw = true;
            }
        };
        if (onNewThread) {
            std::thread(attempt).join();
        } else {
            attempt();
        }
        if (threw) {
            ADD_FAILURE() << "an exception left the library at allocation " << n;
            return n;
        }
        check(n);
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << "at allocation " << n;
            return n;
        }
        if (!refused) return n;
    }
    ADD_FAILURE() << "the path never got through";
    return kGiveUpAfter;
}

// Digits vary between lines (ids, time); the shape of a line does not.
std::string Shape(std::string text)
{
    std::replace_if(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }, '9');
    return text;
}

class AllocationFailure : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { ASSERT_NE(theLogger(), nullptr); }  // message texts look up its components
    bool AndAllAfter() const { return GetParam(); }
};

TEST_P(AllocationFailure, MakingANamedLoggerGivesNullOrAWholeLogger)
{
    CKrLogger* made = nullptr;
    const char* name = "allocation-failure";
    const long attempts = ForEveryFailingAllocation(
        AndAllAfter(), [&] { made = getMyLogger(name); },
        [&](long) {
            if (made) {
                EXPECT_TRUE(made->Inited());
                EXPECT_NE(made->GetAvailableComponents(), nullptr);
                EXPECT_NE(made->GetAvailableDataFields(), nullptr);
            }
            // Nothing half-made stays registered: the name gives a whole logger now.
            CKrLogger* again = getMyLogger(name);
            ASSERT_NE(again, nullptr);
            EXPECT_TRUE(again->Inited());
            if (made) {
                EXPECT_EQ(again, made);
            }
            EXPECT_TRUE(removeMyLogger(name));
        });
    EXPECT_GT(attempts, 5);
}

// Console output left out: it would take the test's terminal.
TEST_P(AllocationFailure, MakingAndAttachingOutputsGivesNullFalseOrAWorkingOutput)
{
    krtest::ScratchDir dir;
    const std::string file = dir.File("error.log");
    int delivered = 0;
    auto counting = [](const char*, int, void* count) { ++*static_cast<int*>(count); };
    const std::function<CKrLogOutput*(CKrLogger&)> makers[] = {
        [&](CKrLogger& l) { return l.NewLogOutput(0, file.c_str(), 3, 10, 5); },
        [&](CKrLogger& l) { return l.NewLogOutput(0, +counting, &delivered); },
    };
    CKrLogger* logger = getMyLogger("allocation-failure-outputs");
    ASSERT_NE(logger, nullptr);
    for (const auto& make : makers) {
        bool attached = false;
        const long attempts = ForEveryFailingAllocation(
            AndAllAfter(),
            [&] {
                CKrLogOutput* output = make(*logger);
                attached = output && logger->SetLogOutput(output);
                if (output && !attached) logger->DeleteLogOutput(output);
            },
            [&](long) {
                // Attached means working; otherwise the log has no output.
                const int before = delivered;
                const std::string text = krtest::ReadFile(file);
                CKrErrLogMessage line(false);
                line.FormatLogProlog("outputs.cpp", 1, 0);
                EXPECT_EQ(logger->LogErrMsg(line), attached);
                if (attached) {
                    EXPECT_TRUE(delivered == before + 1 || krtest::ReadFile(file).size() > text.size());
                }
                logger->DisableLog();
            });
        EXPECT_GE(attempts, 2);  // the output itself, at least
    }
    EXPECT_TRUE(removeMyLogger("allocation-failure-outputs"));
}

TEST_P(AllocationFailure, LoggingAnErrorLineWritesItWholeCutShortOrNotAtAll)
{
    krtest::ScratchDir dir;
    const std::string file = dir.File("error.log");
    CKrLogger* logger = getMyLogger("allocation-failure-lines");
    ASSERT_NE(logger, nullptr);
    ASSERT_TRUE(logger->SetLogOutput(logger->NewLogOutput(0, file.c_str(), 3, 10, 5)));

    bool logged = false;
    int length = -1;
    long line = 0;
    size_t written = 0;
    const long attempts = ForEveryFailingAllocation(
        AndAllAfter(),
        [&] {
            CKrErrLogMessage message(false);
            message.FormatLogProlog("lines.cpp", static_cast<int>(++line), 0);
            message.FormatLogMessage(0x0100C001, "disk full");
            length = message.GetBufferLen();
            logged = logger->LogErrMsg(message);
        },
        [&](long) {
            CKrErrLogMessage whole(false);
            whole.FormatLogProlog("lines.cpp", static_cast<int>(line), 0);
            ASSERT_TRUE(whole.FormatLogMessage(0x0100C001, "disk full"));
            const std::string expected = Shape(whole.GetBuffer());
            ASSERT_NE(expected.find("[lines.cpp:9"), std::string::npos) << expected;

            const std::string text = krtest::ReadFile(file);
            const std::string added = Shape(text.substr(written));
            written = text.size();
            if (logged) {
                EXPECT_EQ(added.size(), static_cast<size_t>(length));
            }
            EXPECT_EQ(expected.compare(0, added.size(), added), 0) << "not a beginning of the line:\n" << added;
        });
    EXPECT_GE(attempts, 2);  // the text block, at least
    EXPECT_TRUE(removeMyLogger("allocation-failure-lines"));
}

// Switched on from a thread that has never traced, the trace has its header
// lines and traces the selected component from that thread; refused, the
// trace is off and the output is still the caller's. A traced call that cannot
// get its thread's record traces nothing.
TEST_P(AllocationFailure, EnablingATraceGivesAWorkingTraceOrNone)
{
    krtest::TraceScene scene;
    krtest::TracesOffAtEnd off;
    CKrLogger& logger = *theLogger();
    const std::string config = scene.Config("c", "data: User, Message\n");
    const std::string file = scene.dir.File("t.log");
    const std::string header = "User;Message\n====;=======\n";
    CKrLogOutput* output = nullptr;
    bool enabled = false;
    const long attempts = ForEveryFailingAllocation(
        AndAllAfter(),
        [&] {
            output = logger.NewLogOutput(1, file.c_str(), 1, 64, 1);
            enabled = output && logger.EnableTrace(output, 2, ";", config.c_str(), false, false, false);
            krtest::TracedCall(scene.selected, "alice", 1);
        },
        [&](long) {
            EXPECT_EQ(logger.TraceEnabled(scene.selected), enabled);
            if (enabled) {
                const std::string text = krtest::ReadFile(file);
                EXPECT_TRUE(text == header || text == header + "alice;n=1\n") << text;
                krtest::TracedCall(scene.selected, "bob", 2);  // with memory again, it traces
                EXPECT_NE(krtest::ReadFile(file).find("bob;n=2\n"), std::string::npos);
                logger.DisableTrace(false);
            } else if (output) {
                logger.DeleteLogOutput(output);
            }
            std::remove(file.c_str());
        },
        true);
    EXPECT_GE(attempts, 3);  // the output, the configuration, the record
}

INSTANTIATE_TEST_SUITE_P(, AllocationFailure, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "AndAllAfter" : "OnlyThatOne";
                         });

}  // namespace
