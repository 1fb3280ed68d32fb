// The in-memory trace output: sizing, the circular store, dump contents and
// dump file names.
#include "InMemoryTestSupport.h"

#include "testsupport/AllocationCounter.h"

#include <krerrlog/logger/CKrLogger.h>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

using krerrlog::FailNextTraceAreaAllocations;
using krerrlog::OpenDumpFile;
using krerrlog::WriteInMemoryTrace;
using namespace krtest;

namespace {

constexpr uint64_t kSmallArea = 1000001;  // SetParams(1): capacity + 1
const std::string kFirstHeader = "user|realm|elapsed|\n";
const std::string kSecondHeader = "\n";

bool Store(CKrInMemoryOutput& output, const std::string& text)
{
    return output.Log(text.data(), static_cast<int>(text.size()));
}

// "_yyyymmdd_hhmmss" of an instant, in local time.
std::string StampAt(long long epochMs)
{
    const std::string withMs = SuffixAt(epochMs);
    return withMs.substr(0, withMs.find('.'));
}

std::string Pid() { return std::to_string(getpid()); }

using InMemoryOutput = InMemoryTest;

TEST_F(InMemoryOutput, SizesOutOfRangeFallBackTo100MegabytesWithReturnCode4)
{
    struct Case {
        int megabytes;
        uint64_t capacity;
        int returnCode;
    };
    for (const Case& c : {Case{0, 100000000, 4}, Case{2049, 100000000, 4}, Case{-3, 100000000, 4},
                          Case{2048, 2048000000, 0}, Case{1, 1000000, 0}}) {
        CKrInMemoryOutput output;
        EXPECT_TRUE(output.SetParams(c.megabytes)) << c.megabytes;
        EXPECT_EQ(Area().Capacity(), c.capacity) << c.megabytes;
        EXPECT_EQ(Area().AllocationSize(), c.capacity + 1) << c.megabytes;
        EXPECT_EQ(output.GetReturnCode(), c.returnCode) << c.megabytes;
        EXPECT_EQ(output.GetType(), KR_OUTPUT_IN_MEMORY);
    }
}

TEST_F(InMemoryOutput, OpenSwitchesTheAreaOnAndCloseOff)
{
    CKrInMemoryOutput output;
    EXPECT_FALSE(output.Close()) << "nothing to switch off";
    EXPECT_FALSE(Store(output, "before open\n"));
    OpenSmallArea(output);
    EXPECT_NE(Area().Area(), nullptr);
    EXPECT_EQ(output.GetMemorySizeUsed(), 1);
    EXPECT_EQ(output.GetReturnCode(), 0);
    EXPECT_EQ(output.EnableMemoryLogging(), Area().Area()) << "an area in use is returned as it is";
    EXPECT_FALSE(output.SetParams(5)) << "no resizing while logging";
    EXPECT_EQ(Area().Capacity(), 1000000u);
    EXPECT_TRUE(Store(output, "one\n"));
    EXPECT_EQ(Area().Offset(), 4u);

    EXPECT_TRUE(output.Close());
    EXPECT_EQ(Area().Area(), nullptr);
    EXPECT_FALSE(output.Close());
    EXPECT_FALSE(Store(output, "after close\n"));

    // The position survives a switch-off; only SetParams starts it again.
    ASSERT_TRUE(output.Open());
    EXPECT_EQ(Area().Offset(), 4u);
    EXPECT_TRUE(output.Close());
    EXPECT_TRUE(output.SetParams(1));
    EXPECT_EQ(Area().Offset(), 0u);
}

TEST_F(InMemoryOutput, AreaThatCannotBeHadFallsBackTo100MegabytesOrFailsOpen)
{
    {
        CKrInMemoryOutput output;
        ASSERT_TRUE(output.SetParams(3));
        FailNextTraceAreaAllocations(1);
        ASSERT_TRUE(output.Open());
        EXPECT_EQ(output.GetReturnCode(), KR_RC_MEMORY_SIZE_ADJUSTED);
        EXPECT_EQ(output.GetMemorySizeUsed(), 100);
        EXPECT_EQ(Area().AllocationSize(), 100000001u);
        // The whole fallback area is usable up to its last byte.
        const std::string last = "last line\n";
        ASSERT_TRUE(output.Log(std::string(100000001 - last.size(), 'x').c_str(),
                               static_cast<int>(100000001 - last.size())));
        ASSERT_TRUE(Store(output, last));
        EXPECT_FALSE(Area().Wrapped());
        EXPECT_EQ(std::string(Area().Area() + 100000001 - last.size(), last.size()), last);
        EXPECT_TRUE(output.Close());
    }
    {
        CKrInMemoryOutput output;
        ASSERT_TRUE(output.SetParams(3));
        FailNextTraceAreaAllocations(2);
        EXPECT_FALSE(output.Open());
        EXPECT_EQ(output.GetReturnCode(), KR_RC_NO_TRACE_MEMORY);
        EXPECT_EQ(Area().Area(), nullptr);
        EXPECT_FALSE(output.Close());
        EXPECT_FALSE(Store(output, "dropped\n"));
    }
}

TEST_F(InMemoryOutput, StoresEveryByteOfTheMessageAndRefusesWhatCannotFit)
{
    CKrInMemoryOutput output;
    OpenSmallArea(output);
    CKrErrLogMessage message(false);
    SetText(message, "2025-03-03 14:05:09|alice|realm1|\n");
    EXPECT_TRUE(output.Log(message));
    EXPECT_EQ(std::string(Area().Area(), Area().Offset()), "2025-03-03 14:05:09|alice|realm1|\n");

    const uint64_t before = Area().Offset();
    const std::string tooLong(kSmallArea + 1, 'x');
    EXPECT_FALSE(output.Log(tooLong.data(), static_cast<int>(tooLong.size())));
    EXPECT_FALSE(output.Log(nullptr, 5));
    EXPECT_FALSE(output.Log("abc", -1));
    EXPECT_TRUE(output.Log("abc", 0));
    EXPECT_EQ(Area().Offset(), before) << "refused messages reserve nothing";
    EXPECT_FALSE(Area().Wrapped());

    // A message as long as the whole area still fits, at its start.
    const std::string whole(kSmallArea, 'w');
    EXPECT_TRUE(Store(output, whole));
    EXPECT_EQ(Area().Offset(), kSmallArea);
    EXPECT_EQ(std::string(Area().Area(), kSmallArea), whole);
}

// At the end of the largest area, position plus length passes 2^31: the sum
// must not wrap around to a small number and send the copy past the end.
TEST_F(InMemoryOutput, LargestAreaWrapsAMessageThatWouldEndBeyondIt)
{
    CKrInMemoryOutput output;
    ASSERT_TRUE(output.SetParams(2048));
    ASSERT_TRUE(output.Open());  // pages are only taken when written
    const uint64_t size = 2048000001;
    ASSERT_EQ(Area().AllocationSize(), size);
    krerrlog::InMemoryTraceAreaTestPeer::SetOffset(size - 10);
    const std::string message(100000000, 'q');
    ASSERT_TRUE(Store(output, message));
    EXPECT_TRUE(Area().Wrapped());
    EXPECT_EQ(Area().Offset(), message.size());
    EXPECT_EQ(std::string(Area().Area(), 4), "qqqq");
    EXPECT_EQ(std::string(Area().Area() + size - 10, 10), std::string(10, '\0'));
}

TEST_F(InMemoryOutput, FillsToTheLastByteWithoutWrappingAndWrapsOneByteLaterZeroingTheRest)
{
    CKrInMemoryOutput output;
    OpenSmallArea(output);
    GiveHeaders(output, kFirstHeader, kSecondHeader);
    const std::string x(kSmallArea, 'x'), y(600000, 'y');

    ASSERT_TRUE(Store(output, x));  // exactly the whole area
    EXPECT_FALSE(Area().Wrapped());
    ASSERT_TRUE(Store(output, y));  // nothing fits after the last byte
    EXPECT_TRUE(Area().Wrapped());
    EXPECT_EQ(Area().Offset(), y.size());

    // Filling the rest exactly does not wrap again: the newer part is all of it.
    const std::string exact(kSmallArea - y.size(), 'z');
    ASSERT_TRUE(Store(output, exact));
    EXPECT_EQ(Area().Offset(), kSmallArea);
    output.DumpTrace();
    EXPECT_EQ(TakeOnlyDump(), kFirstHeader + kSecondHeader + y + exact);

    // Start again from y alone, then a message one byte longer than the rest:
    // it goes to the start and the x bytes after y are zeroed.
    ASSERT_TRUE(output.Close());
    ASSERT_TRUE(output.SetParams(1));
    ASSERT_TRUE(output.Open());
    GiveHeaders(output, kFirstHeader, kSecondHeader);
    ASSERT_TRUE(Store(output, x));
    ASSERT_TRUE(Store(output, y));
    const std::string oneMore(kSmallArea - y.size() + 1, 'z');
    ASSERT_TRUE(Store(output, oneMore));
    EXPECT_EQ(Area().Offset(), oneMore.size());
    output.DumpTrace();
    const std::string older = y.substr(oneMore.size()) + std::string(kSmallArea - y.size(), '\0');
    EXPECT_EQ(TakeOnlyDump(), kFirstHeader + kSecondHeader + older + oneMore);
}

TEST_F(InMemoryOutput, DumpsHoldTheOlderThenTheNewerLinesWithHeadersOnlyAfterAWrap)
{
    CKrInMemoryOutput output;
    OpenSmallArea(output);
    GiveHeaders(output, kFirstHeader, kSecondHeader);
    std::string lines;
    for (int i = 0; i < 3; ++i) {
        const std::string line = ThreadTraceLine(0, i);
        ASSERT_TRUE(Store(output, line));
        lines += line;
    }
    output.DumpTrace();
    EXPECT_EQ(TakeOnlyDump(), lines) << "no wrap: the area up to the position, no headers";
    ASSERT_TRUE(WriteInMemoryTrace(krerrlog::kDumpAtCrash));
    EXPECT_EQ(TakeOnlyDump(), "\nLast Lines of Trace Log:\n\n" + lines);

    // 1,000 lines of 1,000 bytes fill 1,000,000 of the 1,000,001 bytes; the
    // next one goes to the start and zeroes the last byte.
    ASSERT_TRUE(output.Close());
    ASSERT_TRUE(output.SetParams(1));
    ASSERT_TRUE(output.Open());
    GiveHeaders(output, kFirstHeader, kSecondHeader);
    auto numbered = [](int i) {
        std::string line = "line " + std::to_string(i) + " ";
        return line + std::string(999 - line.size(), '.') + "\n";
    };
    std::string older;
    for (int i = 0; i <= 1000; ++i) {
        ASSERT_TRUE(Store(output, numbered(i)));
        if (i >= 2 && i < 1000) older += numbered(i);
    }
    // Line 0 was overwritten by line 1000; line 1 starts right after it.
    older = numbered(1) + older + std::string(1, '\0');
    ASSERT_TRUE(WriteInMemoryTrace(krerrlog::kDumpAtCrash));
    EXPECT_EQ(TakeOnlyDump(), "\nLast Lines of Trace Log:\n\n" + kFirstHeader + kSecondHeader + older + numbered(1000));

    // A dump leaves the area as it was, and logging goes on after it.
    output.DumpTrace();
    const std::string again = TakeOnlyDump();
    EXPECT_EQ(again, kFirstHeader + kSecondHeader + older + numbered(1000));
    ASSERT_TRUE(Store(output, "after the dump\n"));
    output.DumpTrace();
    EXPECT_EQ(TakeOnlyDump(), again.substr(0, kFirstHeader.size() + kSecondHeader.size()) +
                                  older.substr(15) + numbered(1000) + "after the dump\n");
}

TEST_F(InMemoryOutput, HeadersAreKeptOnlyWhenBothHaveTextAndForgottenWhenSwitchedOn)
{
    CKrInMemoryOutput output;
    OpenSmallArea(output);
    // Two messages of all but 10 bytes of the area: the second wraps and
    // zeroes those 10 bytes, so a dump is the 10 zero bytes and the message.
    const std::string big(kSmallArea - 10, 'b');
    const std::string wrapped = std::string(10, '\0') + big;
    auto wrapAndDump = [&] {
        EXPECT_TRUE(Store(output, big));
        EXPECT_TRUE(Store(output, big));
        output.DumpTrace();
        return TakeOnlyDump();
    };
    GiveHeaders(output, kFirstHeader, "");
    EXPECT_EQ(wrapAndDump(), wrapped) << "one empty header: none kept";
    GiveHeaders(output, kFirstHeader, kSecondHeader);
    EXPECT_EQ(wrapAndDump(), kFirstHeader + kSecondHeader + wrapped);
    GiveHeaders(output, "", kSecondHeader);
    EXPECT_EQ(wrapAndDump(), kFirstHeader + kSecondHeader + wrapped) << "an empty header replaces nothing";

    ASSERT_TRUE(output.Close());
    ASSERT_TRUE(output.Open());
    EXPECT_EQ(wrapAndDump(), wrapped) << "switching on forgets the headers";
}

TEST_F(InMemoryOutput, DumpFileNamesCarryPrefixPidAndLocalTimeAndAreOwnerOnly)
{
    g_nowMs = 1741010709042LL;
    krerrlog::SetClockSource(&FixedClock);
    const std::string stamp = StampAt(g_nowMs);

    CKrInMemoryOutput output;
    OpenSmallArea(output);
    ASSERT_TRUE(Store(output, "x\n"));
    output.DumpTrace();
    ASSERT_TRUE(WriteInMemoryTrace(krerrlog::kDumpAtCrash));
    const int unknown = OpenDumpFile(7);
    ASSERT_GE(unknown, 0);
    close(unknown);
    EXPECT_EQ(m_dir.List(), (Names{"crash.inmem_trace_" + Pid() + "_" + stamp + ".txt",
                                   "dump.inmem_trace_" + Pid() + "_" + stamp + ".txt",
                                   "unknown_" + Pid() + "_" + stamp + ".txt"}));
    for (const std::string& name : m_dir.List()) EXPECT_EQ(FileMode(m_dir.File(name)), 0600) << name;

    // An existing file of the same name is emptied first.
    WriteFile(m_dir.File("dump.inmem_trace_" + Pid() + "_" + stamp + ".txt"), std::string(5000, '#'));
    output.DumpTrace();
    EXPECT_EQ(ReadFile(m_dir.File("dump.inmem_trace_" + Pid() + "_" + stamp + ".txt")), "x\n");

    // The prefix is put in front as it stands, and is kept as a copy.
    std::string prefix = m_dir.Path() + "/node7-";
    output.SetInMemoryTraceFilePath(prefix.c_str());
    prefix[0] = '?';
    ASSERT_NE(output.GetInMemoryTraceFilePath(), nullptr);
    EXPECT_EQ(std::string(output.GetInMemoryTraceFilePath()), m_dir.Path() + "/node7-");
    output.DumpTrace();
    EXPECT_EQ(FileMode(m_dir.File("node7-dump.inmem_trace_" + Pid() + "_" + stamp + ".txt")), 0600);
    output.SetInMemoryTraceFilePath(nullptr);
    EXPECT_EQ(output.GetInMemoryTraceFilePath(), nullptr);
    krerrlog::SetClockSource(nullptr);
}

TEST_F(InMemoryOutput, CrashStackFileIsNamedAfterTheErrorLog)
{
    g_nowMs = 1741010709042LL;
    krerrlog::SetClockSource(&FixedClock);
    const std::string tail = "crash.pstack_" + Pid() + "_" + StampAt(g_nowMs) + ".txt";
    CKrLogger* logger = theLogger();
    ASSERT_NE(logger, nullptr);
    ASSERT_EQ(mkdir(m_dir.File("logs.d").c_str(), 0700), 0);

    struct Case {
        std::string errorLog;
        std::string expected;
    };
    for (const Case& c : {Case{m_dir.File("error.log"), m_dir.File("error." + tail)},
                          Case{m_dir.File("logs.d/error"), m_dir.File("logs.d/error" + tail)},
                          Case{m_dir.File("logs.d/error.v2.log"), m_dir.File("logs.d/error.v2." + tail)}}) {
        auto* file = new CKrFileOutput;
        ASSERT_TRUE(file->SetParams(c.errorLog.c_str(), 0, 0, 0));
        ASSERT_TRUE(logger->SetLogOutput(file));
        const int fd = OpenDumpFile(krerrlog::kDumpCrashStack);
        EXPECT_GE(fd, 0) << c.errorLog;
        if (fd >= 0) close(fd);
        EXPECT_EQ(FileMode(c.expected), 0600) << c.expected;
        logger->DisableLog();
    }

    // Without a file error log: the current folder.
    char saved[PATH_MAX];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(m_dir.File("logs.d").c_str()), 0);
    const int fd = OpenDumpFile(krerrlog::kDumpCrashStack);
    EXPECT_EQ(chdir(saved), 0);
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
    EXPECT_EQ(FileMode(m_dir.File("logs.d/" + tail)), 0600);
    krerrlog::SetClockSource(nullptr);
}

TEST_F(InMemoryOutput, NothingIsDumpedWhileLoggingIsOffOrTheFileCannotBeMade)
{
    CKrInMemoryOutput output;
    output.SetInMemoryTraceFilePath((m_dir.Path() + "/").c_str());
    output.DumpTrace();
    EXPECT_TRUE(WriteInMemoryTrace(krerrlog::kDumpAtCrash)) << "nothing to dump is no failure";
    EXPECT_TRUE(m_dir.List().empty());

    OpenSmallArea(output);
    ASSERT_TRUE(Store(output, "kept\n"));
    output.SetInMemoryTraceFilePath((m_dir.Path() + "/missing/").c_str());
    output.DumpTrace();
    EXPECT_FALSE(WriteInMemoryTrace(krerrlog::kDumpOnRequest));
    EXPECT_FALSE(WriteInMemoryTrace(krerrlog::kDumpCrashStack)) << "not a trace dump";
    EXPECT_TRUE(m_dir.List().empty());
    // A prefix too long for any path: no file, no crash.
    output.SetInMemoryTraceFilePath(std::string(PATH_MAX + 10, 'p').c_str());
    EXPECT_LT(OpenDumpFile(krerrlog::kDumpOnRequest), 0);
    EXPECT_FALSE(WriteInMemoryTrace(krerrlog::kDumpOnRequest));
    // A failed dump leaves logging on.
    output.SetInMemoryTraceFilePath((m_dir.Path() + "/").c_str());
    ASSERT_TRUE(Store(output, "still logging\n"));
    output.DumpTrace();
    EXPECT_EQ(TakeOnlyDump(), "kept\nstill logging\n");
}

TEST_F(InMemoryOutput, StoringAllocatesNothing)
{
    CKrInMemoryOutput output;
    OpenSmallArea(output);
    CKrErrLogMessage message(false);
    SetText(message, ThreadTraceLine(1, 1));
    const std::string line = ThreadTraceLine(2, 2);
    const long before = AllocationsOnThisThread();
    for (int i = 0; i < 20000; ++i) {  // wraps several times
        output.Log(message);
        output.Log(line.data(), static_cast<int>(line.size()));
    }
    EXPECT_EQ(AllocationsOnThisThread() - before, 0);
    EXPECT_TRUE(Area().Wrapped());
}

}  // namespace

// The area is process-wide: an output that goes away leaves it to the outputs
// still using it; the last one frees it. An explicit switch-off is for all.
TEST_F(InMemoryOutput, DeletingOneOfTwoOutputsKeepsTheAreaForTheOther)
{
    {
        auto* first = new CKrInMemoryOutput;
        CKrInMemoryOutput second;
        ASSERT_TRUE(first->SetParams(1));
        ASSERT_TRUE(first->Open());
        ASSERT_TRUE(second.Open());
        ASSERT_TRUE(first->Open());  // the same output switching on again counts once
        delete first;
        ASSERT_NE(Area().Area(), nullptr) << "switched off under the other output";
        EXPECT_TRUE(Store(second, "still stored\n"));
        EXPECT_EQ(std::string(Area().Area(), 13), "still stored\n");
    }
    EXPECT_EQ(Area().Area(), nullptr) << "the last output's area outlived it";

    CKrInMemoryOutput late;
    {
        CKrInMemoryOutput closer;
        ASSERT_TRUE(closer.Open());
        ASSERT_TRUE(late.Open());
        EXPECT_TRUE(closer.Close());
        EXPECT_EQ(Area().Area(), nullptr) << "Close switches off for every user";
        ASSERT_TRUE(closer.Open());  // a new area, in which late has no share
    }
    EXPECT_EQ(Area().Area(), nullptr);
    ASSERT_TRUE(late.Open());
}
