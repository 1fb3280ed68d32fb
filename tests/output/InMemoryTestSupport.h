// Shared by the in-memory output tests: a fixture that leaves the process-wide
// area switched off and unconfigured around each test, dump file lookup, and a
// reader that checks every line of a dump of a wrapped area.
#pragma once

#include "OutputTestSupport.h"

#include <krerrlog/output/CKrInMemoryOutput.h>
#include <krerrlog/output/internal/KrInMemoryDump.h>
#include <krerrlog/output/internal/KrInMemoryTraceArea.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace krerrlog {
// A copy that has reserved its place and is slow to finish, as when its
// thread is preempted in the middle of it. It ends at the latest when it goes
// out of scope, so that a failed test does not leave the area waiting.
class InMemoryTraceAreaTestPeer {
public:
    explicit InMemoryTraceAreaTestPeer(const std::string& text) : m_text(text)
    {
        bool stored = false;
        m_place = InMemoryTraceArea::Process().Reserve(text.size(), stored);
    }
    ~InMemoryTraceAreaTestPeer() { Finish(); }
    InMemoryTraceAreaTestPeer(const InMemoryTraceAreaTestPeer&) = delete;
    InMemoryTraceAreaTestPeer& operator=(const InMemoryTraceAreaTestPeer&) = delete;

    // Moves the fill position, so that tests reach the far end of a large
    // area without writing all of it.
    static void SetOffset(uint64_t offset)
    {
        InMemoryTraceArea& area = InMemoryTraceArea::Process();
        std::lock_guard<krerrlog::Mutex> hold(area.m_areaLock);
        const uint64_t state = area.m_state.load();
        area.m_state.store((state & ~InMemoryTraceArea::kOffsetMask) | offset);
    }

    char* Place() const { return m_place; }
    void Finish()
    {
        if (!m_place) return;
        std::memcpy(m_place, m_text.data(), m_text.size());
        m_place = nullptr;
        InMemoryTraceArea::Process().EndCopy();
    }

private:
    std::string m_text;
    char* m_place;
};
}  // namespace krerrlog

namespace krtest {

inline krerrlog::InMemoryTraceArea& Area() { return krerrlog::InMemoryTraceArea::Process(); }

// The area is process-wide: every test starts and ends with it off, without a
// dump prefix and with allocations that succeed.
inline void ResetTraceArea()
{
    CKrInMemoryOutput off;
    off.DisableMemoryLogging();
    Area().SetDumpPrefix(nullptr);
    krerrlog::FailNextTraceAreaAllocations(0);
}

// Headers as given (a newline is not added).
inline void GiveHeaders(CKrInMemoryOutput& output, const std::string& first, const std::string& second)
{
    CKrErrLogMessage one(false), two(false);
    SetText(one, first);
    SetText(two, second);
    output.SetHeaders(one, two);
}

class InMemoryTest : public ::testing::Test {
protected:
    void SetUp() override { ResetTraceArea(); }
    void TearDown() override { ResetTraceArea(); }

    // A 1 MB area (1,000,001 bytes) switched on, its dumps going to m_dir.
    void OpenSmallArea(CKrInMemoryOutput& output)
    {
        ASSERT_TRUE(output.SetParams(1));
        ASSERT_TRUE(output.Open());
        output.SetInMemoryTraceFilePath((m_dir.Path() + "/").c_str());
    }
    // The one file in m_dir, read and removed; fails the test unless there is exactly one.
    std::string TakeOnlyDump()
    {
        const std::vector<std::string> names = m_dir.List();
        EXPECT_EQ(names.size(), 1u);
        if (names.size() != 1) return std::string();
        const std::string content = ReadFile(m_dir.File(names[0]));
        std::remove(m_dir.File(names[0]).c_str());
        return content;
    }

    ScratchDir m_dir;
};

// Distinct lines of varying length: a torn or mixed line cannot look whole.
inline std::string ThreadTraceLine(int thread, int index)
{
    const size_t filler = static_cast<size_t>(40 + (index * 7 + thread) % 150);
    return "T" + std::to_string(thread) + " L" + std::to_string(index) + " " +
           std::string(filler, static_cast<char>('a' + thread)) + "\n";
}

struct DumpCheck {
    int torn = 0;        // lines that are no line any thread logged
    int outOfOrder = 0;  // a thread's line before one it logged earlier
    int gaps = 0;        // a thread's line missing between two that are there
    std::map<int, int> lastIndex;  // per thread, the newest line found
};

// A dump of a wrapped area: the headers, the older part (its first line cut
// by the wrap, zero bytes at its end), then the newer part. Every line after
// the cut one must be whole, and each thread's lines must come in the order
// it logged them.
inline DumpCheck CheckWrappedDump(const std::string& dump, const std::string& headers)
{
    DumpCheck check;
    if (dump.compare(0, headers.size(), headers) != 0) {
        ++check.torn;
        return check;
    }
    std::string body = dump.substr(headers.size());
    const size_t cut = body.find('\n');
    body = cut == std::string::npos ? std::string() : body.substr(cut + 1);
    std::string text;
    text.reserve(body.size());
    for (char c : body) {
        if (c != '\0') text.push_back(c);
    }
    if (!text.empty() && text.back() != '\n') ++check.torn;
    for (const std::string& line : SplitLines(text)) {
        int t = -1, i = -1;
        if (std::sscanf(line.c_str(), "T%d L%d", &t, &i) != 2 || line + "\n" != ThreadTraceLine(t, i)) {
            ++check.torn;
            continue;
        }
        auto last = check.lastIndex.find(t);
        if (last != check.lastIndex.end() && i <= last->second) ++check.outOfOrder;
        if (last != check.lastIndex.end() && i > last->second + 1) ++check.gaps;
        check.lastIndex[t] = i;
    }
    return check;
}

}  // namespace krtest
