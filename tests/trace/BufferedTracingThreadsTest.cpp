// Buffered tracing end to end: threads trace through KrTracing into a rolling
// file in buffered mode, or hand lines to LogTraceMsg while the trace is
// switched between buffered and unbuffered outputs; no line may be lost, torn,
// repeated or reordered, and no thread that read the old mode may reach a
// closed output or a freed ring. (A KrTracing call that begins while an
// output is being replaced finds tracing off and traces nothing, as it should;
// LogTraceMsg shows that no line handed over is lost.)
#include "TracingTestSupport.h"

#include "output/OutputTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

using namespace krtest;
using namespace std::chrono_literals;

namespace {

constexpr int kTracers = 4;
constexpr int kCallsPerTracer = 8000;

// A buffered or unbuffered trace file output (mode 3, 1 MB ring) rolling over
// every 64 KiB.
CKrLogOutput* TraceFile(const std::string& path)
{
    CKrLogOutput* output = theLogger()->NewLogOutput(1, path.c_str(), 3, 1, 0, 1);
    if (output) CKrFileOutputTestPeer::SetSizeLimitBytes(*static_cast<CKrFileOutput*>(output), 64 * 1024);
    return output;
}

struct Counts {
    int torn = 0, missing = 0, repeated = 0, outOfOrder = 0;
};

Counts TraceFromThreads(bool switching)
{
    TraceScene scene;
    TracesOffAtEnd off;
    CKrLogger& logger = *theLogger();
    const std::string config = scene.Config("conf", "data: User, Message\n");
    const std::string path = scene.dir.File("trace.log");
    Counts counts;
    EXPECT_TRUE(logger.EnableTrace(TraceFile(path), 2, ";", config.c_str(), false, false, true));
    EXPECT_TRUE(logger.GetBufferedTracing());
    EXPECT_TRUE(logger.GetTraceOutput(1) && logger.GetTraceOutput(1)->IsBufferingEnabled());

    std::atomic<int> started{0};
    EXPECT_TRUE(FinishesWithin(240s, [&] {
        std::vector<std::thread> tracers;
        for (int t = 0; t < kTracers; ++t) {
            tracers.emplace_back([&, t] {
                const std::string user = "t" + std::to_string(t);
                CKrErrLogMessage message(false);
                for (int i = 0; i < kCallsPerTracer; ++i) {
                    if (switching) {
                        message.CleanUpMessage();
                        message.SetFormattedMessage((user + ";n=" + std::to_string(i) + "\n").c_str());
                        logger.LogTraceMsg(message);
                    } else {
                        TracedCall(scene.selected, user.c_str(), i);
                    }
                    if (i == 0) started.fetch_add(1);
                }
            });
        }
        WaitUntilCountReaches(started, kTracers);
        // Each switch replaces the output; the configuration stays.
        for (int round = 1; switching && round <= 40; ++round) {
            EXPECT_TRUE(logger.EnableTrace(TraceFile(path), 2, ";", config.c_str(), false, true, round % 2 == 0));
            std::this_thread::sleep_for(2ms);
        }
        for (auto& tracer : tracers) tracer.join();
    }));
    logger.DisableTrace(false);  // drains the ring

    std::map<std::string, int> seen;
    for (const std::string& entry : scene.dir.List()) {
        if (entry.rfind("trace", 0) != 0) continue;
        const std::string content = ReadFile(scene.dir.File(entry));
        EXPECT_TRUE(content.empty() || content.back() == '\n') << entry;
        int last[kTracers] = {-1, -1, -1, -1};
        for (const std::string& line : SplitLines(content)) {
            if (line == "User;Message" || line == "====;=======") continue;  // headers
            int t = -1, n = -1;
            char end = 0;
            if (std::sscanf(line.c_str(), "t%d;n=%d%c", &t, &n, &end) != 2 || t < 0 || t >= kTracers) {
                ++counts.torn;
                continue;
            }
            ++seen[line];
            counts.outOfOrder += n <= last[t];
            last[t] = n;
        }
    }
    // Order is judged within each file: backup names do not sort by time
    // within one second.
    for (int t = 0; t < kTracers; ++t) {
        for (int i = 0; i < kCallsPerTracer; ++i) {
            const auto found = seen.find("t" + std::to_string(t) + ";n=" + std::to_string(i));
            counts.missing += found == seen.end();
            counts.repeated += found != seen.end() && found->second != 1;
        }
    }
    return counts;
}

TEST(BufferedTracingThreads, EveryLineOnceWholeAndInOrderAlsoWhileBufferedTracingIsSwitched)
{
    for (bool switching : {false, true}) {
        SCOPED_TRACE(switching ? "LogTraceMsg while switching" : "KrTracing");
        const Counts counts = TraceFromThreads(switching);
        EXPECT_EQ(counts.torn, 0);
        EXPECT_EQ(counts.missing, 0);
        EXPECT_EQ(counts.repeated, 0);
        EXPECT_EQ(counts.outOfOrder, 0);
    }
}

}  // namespace
