// The file output: writes log, trace and audit text to a file in one of five
// open modes and rolls the file over by size into dated backups, keeping a
// bounded number of them. Every new file starts with the output's two header
// lines. All file outputs share one process-wide roll-over lock (writes shared,
// roll-overs exclusive) and one roll-over check lock. In buffered mode lines go
// through the process-wide trace ring buffer (KrTraceRingBuffer.h) and only
// its consumer writes to the file.
#pragma once

#include <krerrlog/output/CKrLogOutput.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

    // Buffered mode: at most one file output of the process at a time. Turning
    // it on makes the ring and starts the writer thread; it stays off when
    // another output has the ring, the ring cannot be allocated or no thread
    // can be started. Turning it off (also Close and destruction) writes every
    // line accepted so far, stops the thread and frees the ring.
    bool Flush() override;  // drains the ring on the calling thread
    void EnableBuffering(bool enable) override;
    void DeleteRingBuffer() override;
    bool IsBufferingEnabled() override;
    bool IsBufferingSupported() override;
    void LaunchTraceWriterThread() override;
    // Keeps both texts (when both are non-empty) to start every later file with.
    void SetHeaders(CKrErrLogMessage& first, CKrErrLogMessage& second) override;

    // File name, open mode 0 to 4, size limit in megabytes, backup count
    // (0 = keep all) and, for the first, the ring-buffer size in megabytes for
    // buffered mode. False, changing nothing, for a null or empty name, a mode
    // out of range, a negative size or count, or a ring size below 0 or above
    // 4096 (sizes above 512 make the largest ring, 512 MB); and for a rolling
    // mode (2 to 4) whose backup names would not fit in 255 bytes (it could
    // never roll).
    virtual bool SetParams(const char* fileName, int openMode, int maxSizeMB, int backupCount, int ringBufferMB);
    virtual bool SetParams(const char* fileName, int openMode, int maxSizeMB, int backupCount);
    virtual unsigned long long GetSizeOfRingBuffer();

    // Writes the bytes in one write call under the shared roll-over lock; false
    // for no text, no open file or a failed write.
    bool LogMessage(const char* text, unsigned long long length);
    // The unbuffered path: every thousandth message checks the size first.
    // The result is that of a roll-over performed, else true.
    bool RollOverCheck_LogMessageUnbuffered(const char* text, unsigned long long length);
    // The buffered path for one chunk of whole or partial lines, called by the
    // ring's consumer: a roll-over happens only between two lines, before the
    // chunk when the last line written was complete, else after the chunk's
    // first newline (a chunk without one leaves the roll-over due).
    bool RollOverCheck_LogMessageBuffered(const char* chunk, unsigned long long length);

    const char* GetFileName() const { return m_fileName.c_str(); }
    // Lines handed to the output that did not reach the file whole: written
    // while it had no file open, refused by the file system, or cut short.
    unsigned long long GetLostLineCount() const { return m_iLostLines.load(std::memory_order_relaxed); }

private:
    friend class CKrFileOutputTestPeer;

    bool RolloverCheck(unsigned long long length);
    bool Rollover();
    // Deletes the oldest backups until the new one keeps the count; a backup
    // that cannot be deleted is skipped. False when too few could be deleted.
    bool PruneBackups(std::vector<std::string>& backups);
    // At the periodic check: the output gets a file at its path again when it
    // lost it (removed, moved away, or not reopened after a roll-over).
    // False only when it has none and cannot open one.
    bool KeepFileAtPath();
    // Opens the path for appending, creating it when missing (then with the
    // headers): the output goes on in whatever file the path names now.
    bool ReopenPath();
    // Writes a whole line; after a short write the file is made to end at a
    // line boundary again before any other line of this process follows.
    bool WriteLine(const char* text, unsigned long long length);
    KRERRLOG_LOCAL bool RolloverWithNames();  // Rollover without its out-of-memory catch
    bool IsBackedUpFile(const char* candidate, const char* baseName);
    bool FileExists(const char* name) const;
    bool OpenFile(int kind);
    bool CloseFile();
    void LogHeaders();
    bool LogHeadersMessage(const char* text);
    // Writes to the descriptor without taking a lock.
    bool WriteUnlocked(const char* text, unsigned long long length);
    // Ring buffer side: a chunk written by the consumer (under the roll-over
    // check lock), and the hooks the ring calls.
    void WriteBufferedChunk(const char* chunk, unsigned long long length);
    KRERRLOG_LOCAL static size_t WriteRingChunk(void* output, const char* chunk, size_t length);
    KRERRLOG_LOCAL static int RingDescriptor(void* output);

    // When true, LaunchTraceWriterThread starts nothing (never set by the library).
    KRERRLOG_LOCAL static bool m_launchedTraceWriterThread;

    std::string m_fileName;
    // Whether lines go through the ring. Acquire/release: a producer that sees
    // it cleared finds the ring written out (the switch holds the writer lock).
    std::atomic<bool> m_bBuffering;
    int m_fd;
    int m_iBackupCount;
    uint32_t m_iSizeLimit;
    int m_iMode;
    bool m_bRolloverPending;
    long long m_tPendingSince;
    std::string m_firstHeader;
    std::string m_secondHeader;
    unsigned long long m_iRingBufferSize;
    bool m_bCreatedFile;     // the last OpenFile made the file (it has no headers yet)
    bool m_bReopenPending;   // a roll-over left the output without a file: reopen at the next check
    // A short write left part of a line at the end of the file. Set under the
    // shared roll-over hold, cleared under the exclusive one; release/acquire
    // so a writer that sees it cleared sees the mended end.
    std::atomic<bool> m_bTornTail;
    std::atomic<unsigned long long> m_iLostLines;  // relaxed: a statistic, publishes nothing
    // The last byte the consumer wrote left a line unfinished (buffered mode;
    // changed under the roll-over check lock).
    bool m_bLineOpen;
};
