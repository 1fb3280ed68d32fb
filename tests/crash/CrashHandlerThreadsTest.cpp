// Crashes while other threads keep the allocator or the library's locks busy,
// or fault at the same time: the handler neither waits for them nor hangs.
#include "CrashTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>

namespace krtest {
namespace {

TEST(CrashHandlerThreadsTest, CrashWhileOthersHoldLocksOrFaultToo)
{
    struct Row {
        const char* scenario;
        const char* what;
    };
    const Row rows[] = {
        {"malloc-busy", "another thread allocates and frees in a tight loop"},
        {"area-locked", "another thread holds the in-memory area's locks for good"},
        {"two-threads", "two threads fault at once"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        for (int round = 0; round < 3; ++round) {
            ScratchDir folder;
            const CrashRun run = RunCrashScenario(row.scenario, folder.Path(), std::chrono::seconds(60));
            ASSERT_TRUE(run.Signalled(SIGSEGV)) << run.Describe();
            EXPECT_NE(run.out.find("handling crash ...\n"), std::string::npos) << run.Describe();
            const std::string dump = ReadOnlyFileStartingWith(folder, "crash.inmem_trace_");
            EXPECT_EQ(dump.rfind("\nLast Lines of Trace Log:\n\n", 0), 0u);
            EXPECT_NE(dump.find(InMemoryLine(kInMemoryLines - 1)), std::string::npos);
            const std::string listing = ReadOnlyFileStartingWith(folder, "error.crash.pstack_");
            const std::vector<ListedFrame> frames = ParseListing(listing);
            ASSERT_FALSE(frames.empty());
            EXPECT_EQ(frames[0].name, "KrCrashNullWrite") << listing;
        }
    }
}

// Another thread writes trace lines into the ring buffer up to the crash: the
// trace file holds every line logged before the fault, whole and in order.
TEST(CrashHandlerThreadsTest, CrashWhileAnotherThreadWritesIntoTheRing)
{
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ScratchDir folder;
        const CrashRun run = RunCrashScenario("ring", folder.Path(), std::chrono::seconds(60));
        ASSERT_TRUE(run.Signalled(SIGSEGV)) << run.Describe();
        const size_t at = run.out.find("logged=");
        ASSERT_NE(at, std::string::npos) << run.Describe();
        const int loggedBeforeCrash = std::stoi(run.out.substr(at + 7));
        const std::vector<std::string> lines = SplitLines(ReadFile(folder.File("trace.log")));
        ASSERT_GE(lines.size(), static_cast<size_t>(loggedBeforeCrash));
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i] + "\n" != RingLine(static_cast<int>(i))) {
                FAIL() << "line " << i << " is '" << lines[i] << "'";
            }
        }
        EXPECT_FALSE(ReadOnlyFileStartingWith(folder, "error.crash.pstack_").empty());
    }
}

}  // namespace
}  // namespace krtest
