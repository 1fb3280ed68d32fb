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

protected:
    CKrLogOutput();
    void SetType(int type) { m_iType = type; }
    void SetReturnCode(int code) { m_iReturnCode = code; }

    // Messages since the last roll-over check (file output).
    std::atomic<uint64_t> m_iMessageCount;
    // Bytes written since the last roll-over (buffered file output).
    std::atomic<uint32_t> m_iBytesSinceRollover;

private:
    int m_iType;
    int m_iReturnCode;
};
