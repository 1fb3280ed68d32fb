// Shared by the output tests: messages with a given text, and reach into the
// file output's private roll-over steps.
#pragma once

#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/CKrFileOutput.h>

#include <cstdint>
#include <string>

class CKrFileOutputTestPeer {
public:
    // The limit in bytes instead of megabytes, so that tests roll over with
    // small volumes; the checks themselves stay exactly as in production.
    static void SetSizeLimitBytes(CKrFileOutput& output, uint32_t bytes) { output.m_iSizeLimit = bytes; }
    static uint32_t SizeLimit(const CKrFileOutput& output) { return output.m_iSizeLimit; }
    static bool IsBackedUpFile(CKrFileOutput& output, const char* candidate, const char* baseName)
    {
        return output.IsBackedUpFile(candidate, baseName);
    }
    static bool Rollover(CKrFileOutput& output) { return output.Rollover(); }
    static bool Pending(const CKrFileOutput& output) { return output.m_bRolloverPending; }
    static int Descriptor(const CKrFileOutput& output) { return output.m_fd; }
    static int Mode(const CKrFileOutput& output) { return output.m_iMode; }
    static int BackupCount(const CKrFileOutput& output) { return output.m_iBackupCount; }
};

namespace krtest {

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

}  // namespace krtest
