// The file output: writes log, trace and audit text to a file in one of five
// open modes and rolls the file over by size into dated backups, keeping a
// bounded number of them. Every new file starts with the output's two header
// lines. All file outputs share one process-wide roll-over lock (writes shared,
// roll-overs exclusive) and one roll-over check lock.
#pragma once

#include <krerrlog/output/CKrLogOutput.h>

#include <cstdint>
#include <string>

// Open modes.
constexpr int KR_FILE_TRUNCATE = 0;          // empty the existing file
constexpr int KR_FILE_APPEND = 1;            // append, no roll-over by size
constexpr int KR_FILE_ROLL_AT_OPEN = 2;      // roll over at open, no roll-over by size
constexpr int KR_FILE_APPEND_ROLLING = 3;    // append, roll over by size
constexpr int KR_FILE_ROLL_AT_OPEN_ROLLING = 4;  // roll over at open and by size

class KRERRLOG_API CKrFileOutput : public CKrLogOutput {
public:
    CKrFileOutput();
    ~CKrFileOutput() override;

    bool Open() override;
    bool Log(CKrErrLogMessage& message) override;
    bool Close() override;
    // Keeps both texts (when both are non-empty) to start every later file with.
    void SetHeaders(CKrErrLogMessage& first, CKrErrLogMessage& second) override;

    // File name, open mode 0 to 4, size limit in megabytes, backup count
    // (0 = keep all) and, for the first, the ring-buffer size in megabytes for
    // buffered mode. False, changing nothing, for a null or empty name, a mode
    // out of range, or a negative size or count.
    virtual bool SetParams(const char* fileName, int openMode, int maxSizeMB, int backupCount, int ringBufferMB);
    virtual bool SetParams(const char* fileName, int openMode, int maxSizeMB, int backupCount);
    virtual unsigned long long GetSizeOfRingBuffer();

    // Writes the bytes in one write call; false for no text, no open file or a failed write.
    bool LogMessage(const char* text, unsigned long long length);
    // The unbuffered path: every thousandth message checks the size first.
    // The result is that of a roll-over performed, else true.
    bool RollOverCheck_LogMessageUnbuffered(const char* text, unsigned long long length);
    // The buffered path for one chunk of whole or partial lines: a roll-over
    // due in the chunk happens after its first newline.
    bool RollOverCheck_LogMessageBuffered(const char* chunk, unsigned long long length);

    const char* GetFileName() const { return m_fileName.c_str(); }

private:
    friend class CKrFileOutputTestPeer;

    bool RolloverCheck(unsigned long long length);
    bool Rollover();
    KRERRLOG_LOCAL bool RolloverWithNames();  // Rollover without its out-of-memory catch
    bool IsBackedUpFile(const char* candidate, const char* baseName);
    bool FileExists(const char* name) const;
    bool OpenFile(int kind);
    bool CloseFile();
    void LogHeaders();
    bool LogHeadersMessage(const char* text);
    // Writes to the descriptor without taking a lock.
    bool WriteUnlocked(const char* text, unsigned long long length);

    std::string m_fileName;
    bool m_bBuffering;
    int m_fd;
    int m_iBackupCount;
    uint32_t m_iSizeLimit;
    int m_iMode;
    bool m_bRolloverPending;
    long long m_tPendingSince;
    std::string m_firstHeader;
    std::string m_secondHeader;
    unsigned long long m_iRingBufferSize;
};
