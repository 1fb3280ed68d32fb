// Shared by the output tests: messages with a given text, a fixed clock, and
// a reach into the file output's private roll-over steps.
#pragma once

#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/CKrFileOutput.h>
#include <krerrlog/support/platform/KrPlatformClock.h>

#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

class CKrFileOutputTestPeer {
public:
    // Bytes instead of megabytes, so that tests roll over with small volumes.
    static void SetSizeLimitBytes(CKrFileOutput& output, uint32_t bytes) { output.m_iSizeLimit = bytes; }
    static uint32_t SizeLimit(const CKrFileOutput& output) { return output.m_iSizeLimit; }
    static bool IsBackedUpFile(CKrFileOutput& output, const char* candidate, const char* baseName)
    {
        return output.IsBackedUpFile(candidate, baseName);
    }
    static bool Rollover(CKrFileOutput& output) { return output.Rollover(); }
    static int Descriptor(const CKrFileOutput& output) { return output.m_fd; }
    static int Mode(const CKrFileOutput& output) { return output.m_iMode; }
    static int BackupCount(const CKrFileOutput& output) { return output.m_iBackupCount; }
};

namespace krtest {

using Names = std::vector<std::string>;

inline void SetText(CKrErrLogMessage& message, const std::string& text)
{
    message.CleanUpMessage();
    message.SetFormattedMessage(text.c_str());
}

// Logs one line (a newline is added) through the output.
inline bool LogLine(CKrLogOutput& output, const std::string& text)
{
    CKrErrLogMessage message(false);
    SetText(message, text + "\n");
    return output.Log(message);
}

inline size_t LineCount(const std::string& path) { return SplitLines(ReadFile(path)).size(); }

inline void OpenFile(CKrFileOutput& output, const std::string& name, int mode, int limitMb, int backups)
{
    ASSERT_TRUE(output.SetParams(name.c_str(), mode, limitMb, backups));
    ASSERT_TRUE(output.Open());
}

// Headers each new file after a roll-over starts with; also logged when asked,
// the way the logger starts the first file.
inline void SetHeaders(CKrFileOutput& output, const std::string& first, const std::string& second, bool log = false)
{
    CKrErrLogMessage one(false), two(false);
    SetText(one, first + "\n");
    SetText(two, second + "\n");
    output.SetHeaders(one, two);
    if (log) output.Log(one), output.Log(two);
}

// Backup names depend on the clock, so roll-over tests set it.
inline std::atomic<long long> g_nowMs{0};
inline long long FixedClock() { return g_nowMs.load(); }

class FixedClockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_nowMs = 1741010709042LL;  // 2025-03-03, some time of day, 42 ms
        krerrlog::SetClockSource(&FixedClock);
    }
    void TearDown() override { krerrlog::SetClockSource(nullptr); }
};

// The backup suffix due at the given instant (local time).
inline std::string SuffixAt(long long epochMs)
{
    time_t seconds = static_cast<time_t>(epochMs / 1000);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "_%04d%02d%02d_%02d%02d%02d.%d", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(epochMs % 1000));
    return text;
}

}  // namespace krtest
