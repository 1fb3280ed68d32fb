// The abstract output: every destination of log, trace and audit text. The
// order of the virtual operations is part of the interface hosts build against.
#pragma once

#include <krerrlog/KrExport.h>

#include <atomic>
#include <cstdint>

class CKrErrLogMessage;

// Output type codes (GetType).
constexpr int KR_OUTPUT_CONSOLE = 0;
constexpr int KR_OUTPUT_FILE = 1;
constexpr int KR_OUTPUT_SYNC_CALLBACK = 2;
constexpr int KR_OUTPUT_ASYNC_CALLBACK = 3;
constexpr int KR_OUTPUT_SYNC_PARAM_CALLBACK = 4;
constexpr int KR_OUTPUT_ASYNC_PARAM_CALLBACK = 5;
constexpr int KR_OUTPUT_IN_MEMORY = 6;

// Return codes (GetReturnCode): the last failure of an output, never reset.
constexpr int KR_RC_FILE_OPEN_FAILED = 1;
constexpr int KR_RC_CONSOLE_OPEN_FAILED = 2;
constexpr int KR_RC_NO_TRACE_MEMORY = 3;
constexpr int KR_RC_MEMORY_SIZE_ADJUSTED = 4;
constexpr int KR_RC_SYNC_PARAM_MISSING = 5;
constexpr int KR_RC_ASYNC_PARAM_MISSING = 6;

// What an output has done with the lines handed to it (GetDeliveryCounts).
struct KrDeliveryCounts {
    unsigned long long linesDelivered;  // written, stored or handed to the callback
    unsigned long long bytesDelivered;
    unsigned long long linesFailed;     // lost: a failed write, no console, no callback
    long long countingSince;            // when the output was made (seconds since the epoch)
    long long lastFailure;              // the latest lost line (seconds since the epoch); 0 when none
};

class KRERRLOG_API CKrLogOutput {
public:
    virtual ~CKrLogOutput();
    CKrLogOutput(const CKrLogOutput&) = delete;
    CKrLogOutput& operator=(const CKrLogOutput&) = delete;

    virtual bool Open() = 0;
    virtual bool Log(CKrErrLogMessage& message) = 0;
    virtual bool Flush();
    virtual bool Close() = 0;
    virtual void EnableBuffering(bool enable);
    virtual void DeleteRingBuffer();
    virtual char* EnableMemoryLogging();
    virtual void DisableMemoryLogging();
    virtual bool IsBufferingEnabled();
    virtual bool IsBufferingSupported();
    virtual void LaunchTraceWriterThread();
    virtual void SetHeaders(CKrErrLogMessage& first, CKrErrLogMessage& second);
    virtual bool IsAsync();
    virtual void DumpTrace();
    virtual int GetMemorySizeUsed();

    int GetType() { return m_iType; }
    int GetReturnCode() { return m_iReturnCode; }
    // Safe while other threads log; each count is exact, the set is not one
    // instant's (a line logged meanwhile may show in one count only).
    KrDeliveryCounts GetDeliveryCounts() const;

protected:
    CKrLogOutput();
    void SetType(int type) { m_iType = type; }
    void SetReturnCode(int code) { m_iReturnCode = code; }
    // Each Log counts the line it was handed once, as delivered (with its
    // bytes) or as lost; returns delivered.
    bool CountDelivery(bool delivered, long long bytes);

    // Messages since the last roll-over check (file output). Relaxed: it only
    // spaces the checks out; a count lost to a concurrent reset delays one.
    std::atomic<uint64_t> m_iMessageCount;
    // Bytes written since the last roll-over (buffered file output): changed
    // by the ring's one consumer thread, publishing nothing; its seq_cst
    // accesses are stronger than needed, not relied on.
    std::atomic<uint32_t> m_iBytesSinceRollover;

private:
    int m_iType;
    int m_iReturnCode;
    // Relaxed: statistics, read by nothing that depends on other data.
    std::atomic<uint64_t> m_iLinesDelivered;
    std::atomic<uint64_t> m_iBytesDelivered;
    std::atomic<uint64_t> m_iLinesFailed;
    std::atomic<int64_t> m_iLastFailure;
    int64_t m_iCountingSince;
};
