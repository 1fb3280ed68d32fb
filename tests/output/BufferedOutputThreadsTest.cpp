// Many producers through a buffered file output with a small ring that wraps
// many times and a small roll-over limit, while another thread flushes,
// switches buffered mode off and on, or the file system refuses renames or
// writes. Every line must arrive whole, once, in order per thread, never split
// across two files, and every file must start with the header lines.
#include "OutputTestSupport.h"

#include <krerrlog/output/internal/KrTraceRingBuffer.h>
#include <krerrlog/support/internal/KrFileOps.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <thread>

using namespace krtest;
using Peer = CKrFileOutputTestPeer;

namespace {

constexpr int kProducers = 4;
constexpr int kLinesPerProducer = 6000;
const std::string kHeaderOne = "#HEADER one";
const std::string kHeaderTwo = "#HEADER two";

// Lengths vary (up to about 400 bytes) so that lines cross the end of the
// ring at every offset and a torn line cannot look whole.
std::string ProducerLine(int t, int i)
{
    return "P" + std::to_string(t) + " L" + std::to_string(i) + " " +
           std::string(static_cast<size_t>(10 + (i * 37 + t * 11) % 390), static_cast<char>('a' + t));
}

enum class Disturbance { None, Flush, SwitchOffAndOn, RenameRefused, WritesFail };

struct Outcome {
    size_t files = 0;
    int torn = 0, missing = 0, repeated = 0, outOfOrder = 0, badHeaders = 0;
};

Outcome ProduceUnder(Disturbance disturbance)
{
    ScratchDir dir;
    Outcome outcome;
    {
        CKrFileOutput output;
        EXPECT_TRUE(output.SetParams(dir.File("trace.log").c_str(), 3, 1, 0, 1));  // 1 MB ring
        Peer::SetSizeLimitBytes(output, 256 * 1024);
        EXPECT_TRUE(output.Open());
        output.EnableBuffering(true);
        EXPECT_TRUE(output.IsBufferingEnabled());
        SetHeaders(output, kHeaderOne, kHeaderTwo, true);
        output.Flush();  // the first file's headers are written before any fault

        std::atomic<int> started{0};
        std::atomic<bool> producing{true};
        std::vector<std::thread> producers;
        for (int t = 0; t < kProducers; ++t) {
            producers.emplace_back([&, t] {
                CKrErrLogMessage message(false);
                ++started;
                for (int i = 0; i < kLinesPerProducer; ++i) {
                    SetText(message, ProducerLine(t, i) + "\n");
                    output.Log(message);
                }
            });
        }
        WaitUntilCountReaches(started, kProducers);
        if (disturbance == Disturbance::RenameRefused) krerrlog::InjectFileFault(krerrlog::FileOp::Rename, EACCES, 2);
        if (disturbance == Disturbance::WritesFail) krerrlog::InjectFileFault(krerrlog::FileOp::Write, ENOSPC, 3);
        std::thread disturber([&] {
            for (int round = 0; producing; ++round) {
                if (disturbance == Disturbance::Flush) output.Flush();
                if (disturbance == Disturbance::SwitchOffAndOn) output.EnableBuffering(round % 2 != 0);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        EXPECT_TRUE(FinishesWithin(std::chrono::minutes(2), [&] {
            for (auto& producer : producers) producer.join();
        }));
        producing = false;
        disturber.join();
        output.Close();
        krerrlog::ClearFileFaults();
    }

    // Each producer's lines: in order within a file, and the ranges of line
    // numbers of different files never overlap.
    std::map<std::string, int> seen;
    std::vector<std::pair<int, int>> ranges[kProducers];
    for (const std::string& entry : dir.List()) {
        ++outcome.files;
        const std::string content = ReadFile(dir.File(entry));
        if (!content.empty() && content.back() != '\n') ++outcome.torn;  // a line split across files
        Names lines = SplitLines(content);
        lines.resize(std::max<size_t>(lines.size(), 2));
        outcome.badHeaders += lines[0] != kHeaderOne || lines[1] != kHeaderTwo;
        int last[kProducers], first[kProducers];
        std::fill(last, last + kProducers, -1);
        std::fill(first, first + kProducers, -1);
        for (size_t i = 2; i < lines.size(); ++i) {
            int t = -1, n = -1;
            if (std::sscanf(lines[i].c_str(), "P%d L%d", &t, &n) != 2 || t < 0 || t >= kProducers ||
                lines[i] != ProducerLine(t, n)) {
                ++outcome.torn;
                continue;
            }
            ++seen[lines[i]];
            outcome.outOfOrder += n <= last[t];
            last[t] = n;
            if (first[t] < 0) first[t] = n;
        }
        for (int t = 0; t < kProducers; ++t) {
            if (first[t] < 0) continue;
            for (const auto& other : ranges[t]) outcome.outOfOrder += first[t] <= other.second && other.first <= last[t];
            ranges[t].emplace_back(first[t], last[t]);
        }
    }
    for (const auto& line : seen) outcome.repeated += line.second != 1;
    for (int t = 0; t < kProducers; ++t) {
        for (int i = 0; i < kLinesPerProducer; ++i) outcome.missing += seen.count(ProducerLine(t, i)) == 0;
    }
    return outcome;
}

TEST(BufferedOutputThreads, EveryLineOnceWholeInOrderAndNeverSplitAcrossFiles)
{
    const struct {
        const char* what;
        Disturbance disturbance;
        // Roll-overs within one millisecond share a backup name and go on in
        // the same file, so a fast machine makes fewer files than 5 MB / 256 KiB.
        size_t minFiles;
        bool linesLost;
        int badHeaders;  // a failed write may be a header's
    } rows[] = {
        {"undisturbed", Disturbance::None, 3, false, 0},
        {"flushed while producing", Disturbance::Flush, 3, false, 0},
        {"switched off and on while producing", Disturbance::SwitchOffAndOn, 3, false, 0},
        {"renames refused: lines stay in the current file", Disturbance::RenameRefused, 1, false, 0},
        {"writes fail: their lines are lost, later ones written", Disturbance::WritesFail, 3, true, 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const Outcome outcome = ProduceUnder(row.disturbance);
        EXPECT_GE(outcome.files, row.minFiles);
        EXPECT_EQ(outcome.torn, 0);
        EXPECT_EQ(outcome.repeated, 0);
        EXPECT_EQ(outcome.outOfOrder, 0);
        EXPECT_LE(outcome.badHeaders, row.badHeaders);
        if (row.linesLost) {
            EXPECT_GT(outcome.missing, 0);
            EXPECT_LT(outcome.missing, kProducers * kLinesPerProducer / 10);
        } else {
            EXPECT_EQ(outcome.missing, 0);
        }
    }
}

}  // namespace
