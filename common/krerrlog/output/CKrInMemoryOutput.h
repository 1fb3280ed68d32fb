// The in-memory trace output: keeps the most recent trace text in a large
// circular area of memory and writes it to a dump file on request (DumpTrace)
// or when the process crashes. The area, its fill position, the header lines
// and the dump file prefix are process-wide: a process has one in-memory trace.
#pragma once

#include <krerrlog/output/CKrLogOutput.h>

#include <cstdint>

class KRERRLOG_API CKrInMemoryOutput : public CKrLogOutput {
public:
    CKrInMemoryOutput();
    // Gives up this output's share in the area: the area is freed when no
    // other in-memory output still uses it.
    ~CKrInMemoryOutput() override;

    // Switches memory logging on; false with return code 3 when no memory is had.
    bool Open() override;
    bool Log(CKrErrLogMessage& message) override;
    // Switches memory logging off; false when this output holds no area.
    bool Close() override;
    // Allocates the zero-filled area (or returns the one in use). When the
    // configured size cannot be had, 100 MB are tried (return code 4). Null
    // when that fails too. Forgets the stored header lines.
    char* EnableMemoryLogging() override;
    // Drops new messages, waits for the copies in progress and frees the area.
    void DisableMemoryLogging() override;
    // Keeps copies of both texts (when both are non-empty) for the top of a
    // dump of a wrapped area.
    void SetHeaders(CKrErrLogMessage& first, CKrErrLogMessage& second) override;
    // Writes the area to <prefix>dump.inmem_trace_<pid>__<date>_<time>.txt;
    // nothing when memory logging is off or the file cannot be made.
    void DumpTrace() override;
    // Megabytes (of 1,000,000 bytes) of the area last switched on.
    int GetMemorySizeUsed() override;

    // Area size in megabytes of 1,000,000 bytes; a size below 1 or above 2048
    // is replaced by 100 (return code 4). Puts the fill position to the start.
    // False while memory logging is on.
    virtual bool SetParams(int memorySizeMB);
    // Text put in front of dump file names (a folder ends with its separator).
    virtual void SetInMemoryTraceFilePath(const char* path);
    // The dump prefix, or null. The text is the calling thread's own copy,
    // valid until the same thread asks again, whatever other threads set.
    virtual char* GetInMemoryTraceFilePath();
    // Stores the text whole. False without an area, for a null text or a
    // negative length, and for a text longer than the area; true, storing
    // nothing, while a dump or a switch-off is under way.
    virtual bool Log(const char* text, int length);

private:
    char* m_pMemory;
    int m_iMemorySize;
    uint64_t m_iAreaShare;  // this output's share in the process-wide area (0: none)
};
