// Real crashes in child processes: the exit signal, the in-memory dump, the
// stack listing and its frames, for each way a process can fault.
#include "CrashTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cxxabi.h>
#include <memory>
#include <cctype>
#include <sys/wait.h>

namespace krtest {
namespace {

constexpr char kTitle[] = "\nLast Lines of Trace Log:\n\n";

std::string AllInMemoryLines()
{
    std::string lines;
    for (int i = 0; i < kInMemoryLines; ++i) lines += InMemoryLine(i);
    return lines;
}

// The checks every crash shares: the notice, the dump of the in-memory
// trace (0600, named after the child), and a stack listing when listed.
std::string CheckCrashFiles(const ScratchDir& folder, const CrashRun& run, bool listed,
                            const std::string& listingPrefix = "error.")
{
    EXPECT_EQ(run.out.find("handling crash ...\n"), run.out.find("handling crash")) << run.Describe();
    EXPECT_NE(run.out.find("handling crash ...\n"), std::string::npos) << run.Describe();
    std::string name;
    const std::string dump = ReadOnlyFileStartingWith(folder, "crash.inmem_trace_", &name);
    EXPECT_TRUE(IsCrashFileName(name, "crash.inmem_trace", run.pid)) << name;
    EXPECT_EQ(FileMode(folder.File(name)), 0600);
    EXPECT_EQ(dump, kTitle + AllInMemoryLines());
    EXPECT_EQ(run.err.find("Error: Unrecognized Exception\n") != std::string::npos, !listed) << run.Describe();
    if (!listed) {
        EXPECT_FALSE(AnyFileStartsWith(folder, listingPrefix + "crash.pstack")) << "no listing after an unrecognised fault";
        return "";
    }
    const std::string listing = ReadOnlyFileStartingWith(folder, listingPrefix + "crash.pstack_", &name);
    EXPECT_TRUE(IsCrashFileName(name, listingPrefix + "crash.pstack", run.pid)) << name;
    EXPECT_EQ(FileMode(folder.File(name)), 0600);
    EXPECT_FALSE(listing.empty());
    EXPECT_NE(listing.back(), '\n') << "no newline after the last frame";
    return listing;
}

TEST(CrashHandlerTest, EveryFaultSavesTheTraceAndEndsWithItsSignal)
{
    struct Row {
        const char* scenario;
        int signal;
        bool listed;            // a stack listing is written
        const char* firstFrame; // the faulting function: the listing's first line
        const char* anyFrame;   // a function somewhere in the listing
        const char* listingPrefix = "error.";  // the error log's name up to its dot
    };
    const Row rows[] = {
        {"null", SIGSEGV, true, "KrCrashNullWrite", "RunCrashChild"},
        {"divide", SIGFPE, true, "KrCrashDivide", "RunCrashChild"},
        {"overflow", SIGSEGV, true, "KrCrashOverflow", "KrCrashOverflow"},
        {"trap", SIGILL, true, "RunScenario", "RunCrashChild"},
        {"sent", SIGBUS, true, nullptr, "RunScenario"},
        {"host-handler", SIGSEGV, true, "KrCrashNullWrite", "RunCrashChild"},
        {"self-locked", SIGSEGV, true, "KrCrashNullWrite", "RunCrashChild"},
        // Without a file error log the listing goes to the current folder.
        {"no-error-log", SIGSEGV, true, "KrCrashNullWrite", "RunCrashChild", ""},
#if defined(__x86_64__)
        {"breakpoint", SIGTRAP, true, "KrCrashBreakpoint", "RunCrashChild"},
        // The walk faults on the unreadable stack: the listing ends there.
        {"smashed-stack", SIGSEGV, true, "KrCrashSmashedStack", "KrCrashSmashedStack"},
#endif
        {"abort", SIGABRT, false, nullptr, nullptr},
        {"terminate", SIGABRT, false, nullptr, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        ScratchDir folder;
        const CrashRun run = RunCrashScenario(row.scenario, folder.Path());
        ASSERT_TRUE(run.Signalled(row.signal)) << run.Describe();
        const std::string listing = CheckCrashFiles(folder, run, row.listed, row.listingPrefix);
        if (!row.listed) continue;
        const std::vector<ListedFrame> frames = ParseListing(listing);
        ASSERT_FALSE(frames.empty()) << listing;
        if (row.firstFrame) {
            EXPECT_NE(frames[0].name.find(row.firstFrame), std::string::npos) << listing;
        }
        EXPECT_NE(listing.find(row.anyFrame), std::string::npos) << listing;
        if (std::string(row.scenario) == "host-handler") {
            EXPECT_LT(run.out.find("handling crash ..."), run.out.find("host handler ran")) << run.Describe();
        }
    }
}

// 100 frames of one function: each listed with the function's own start
// address (as the child printed it) and the image it lies in.
TEST(CrashHandlerTest, DeepStackListsEveryFrameWithItsStartAddress)
{
    ScratchDir folder;
    const CrashRun run = RunCrashScenario("deep", folder.Path());
    ASSERT_TRUE(run.Signalled(SIGSEGV)) << run.Describe();
    const std::vector<ListedFrame> frames = ParseListing(CheckCrashFiles(folder, run, true));
    ASSERT_GT(frames.size(), static_cast<size_t>(kDeepFrames + 2));
    EXPECT_EQ(frames[0].name, "KrCrashNullWrite");
    EXPECT_EQ(frames[0].start, PrintedAddress(run, "KrCrashNullWrite"));
    for (int i = 1; i <= kDeepFrames + 1; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(frames[i].name, "KrCrashRecurse");
        EXPECT_EQ(frames[i].start, PrintedAddress(run, "KrCrashRecurse"));
        EXPECT_NE(frames[i].image.find("krerrlog_crash_tests"), std::string::npos) << frames[i].image;
    }
    // Then the scenario runner (the recursion may be its tail call).
    EXPECT_NE(frames[kDeepFrames + 2].name.find("_GLOBAL__N_"), std::string::npos) << frames[kDeepFrames + 2].name;
}

// Far more frames than the listing holds: it stops at a whole line.
TEST(CrashHandlerTest, ListingOfAVeryDeepStackStopsAtAFrameWhenFull)
{
    ScratchDir folder;
    const CrashRun run = RunCrashScenario("very-deep", folder.Path());
    ASSERT_TRUE(run.Signalled(SIGSEGV)) << run.Describe();
    const std::string listing = CheckCrashFiles(folder, run, true);
    EXPECT_LT(listing.size(), 64u * 1024u);
    EXPECT_GT(listing.size(), 60u * 1024u) << "the listing stops only when full";
    const std::vector<ListedFrame> frames = ParseListing(listing);  // every line whole
    ASSERT_GT(frames.size(), 100u);
    EXPECT_LT(frames.size(), static_cast<size_t>(kVeryDeepFrames));
    EXPECT_EQ(frames.back().name, "KrCrashRecurse");
}

// The name shown without its parameter list: "ns::f(int) const" -> "ns::f".
std::string WithoutParameters(const std::string& name)
{
    const size_t close = name.rfind(')');
    if (close == std::string::npos) return name;
    int depth = 0;
    for (size_t i = close + 1; i-- > 0;) {
        if (name[i] == ')') ++depth;
        if (name[i] == '(' && --depth == 0) return name.substr(0, i);
    }
    return name;
}

std::string Demangled(const std::string& raw)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> text(abi::__cxa_demangle(raw.c_str(), nullptr, nullptr, &status), std::free);
    return status == 0 && text ? WithoutParameters(text.get()) : raw;
}

std::string RunCommand(const std::string& command)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
    pclose(pipe);
    return output;
}

// The listing names the same frames, in the same order, as the debugger
// shows for the same fault, from the faulting function up to main.
TEST(CrashHandlerTest, ListingMatchesTheDebuggersBacktrace)
{
    ScratchDir folder;
    const std::string self = RunCommand("readlink /proc/" + std::to_string(getpid()) + "/exe");
    const std::string gdb = RunCommand("timeout 120 gdb -nx -batch -ex 'set startup-with-shell off' -ex run -ex bt "
                                       "--args " + self.substr(0, self.find('\n')) + " " + kChildFlag + " deep " +
                                       folder.Path() + " 2>&1");
    if (gdb.find("#0") == std::string::npos) GTEST_SKIP() << "gdb cannot trace the child here:\n" << gdb;
    std::vector<std::string> expected;
    for (const std::string& line : SplitLines(gdb)) {
        // "#3  0x000055555555a0c4 in name (arguments) at file:line" or "#0  name (...) ..."
        if (line.size() < 2 || line[0] != '#' || !std::isdigit(static_cast<unsigned char>(line[1]))) continue;
        size_t at = line.find_first_not_of("0123456789", 1);
        at = line.find_first_not_of(' ', at);
        if (line.compare(at, 2, "0x") == 0) at = line.find(" in ", at) + 4;
        expected.push_back(line.substr(at, line.find(" (", at) - at));
        if (expected.back() == "main") break;
    }
    ASSERT_FALSE(expected.empty() || expected.back() != "main") << gdb;

    ScratchDir crashFolder;
    const CrashRun run = RunCrashScenario("deep", crashFolder.Path());
    ASSERT_TRUE(run.Signalled(SIGSEGV)) << run.Describe();
    std::vector<std::string> listed;
    for (const ListedFrame& frame : ParseListing(CheckCrashFiles(crashFolder, run, true))) {
        listed.push_back(Demangled(frame.name));
        if (listed.back() == "main") break;
    }
    EXPECT_EQ(listed, expected) << gdb;
}

}  // namespace
}  // namespace krtest
