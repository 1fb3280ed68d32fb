// Line reader for text files (trace configuration files).
#pragma once

#include <cstddef>
#include <string>

class CKrFile {
public:
    CKrFile();
    ~CKrFile();
    CKrFile(const CKrFile&) = delete;
    CKrFile& operator=(const CKrFile&) = delete;

    // Opens path for reading as text (mode 3 is the mode callers pass; the mode
    // does not change how the file is read). True when the file is open; a
    // folder is refused. An open file is closed first.
    bool OpenFile(const char* path, int mode);

    // Reads the next line into buffer as NUL-terminated text of at most
    // capacity bytes, without its line end ("\n", or "\r\n" as one end).
    // A line longer than capacity - 1 bytes is cut there and the rest of it
    // skipped. A last line without a line end is still a line; NUL bytes in a
    // line are kept (the text then looks shorter). Returns the bytes the line
    // took in the file (> 0, also for an empty line), or 0 at end of file, -1 on
    // a read error, a closed file, a null buffer or a capacity below 1.
    int ReadLine(void* buffer, int capacity);

    // Appends the rest of the file to out. False on a read error, a closed
    // file, or when the rest is longer than limit bytes (out then holds
    // what was read so far).
    bool ReadRest(std::string& out, size_t limit);

    // Closes the file; does nothing on a closed file.
    void CloseFile();

private:
    int FillBuffer();

    static constexpr int kChunk = 65536;
    int m_fd;
    char* m_pChunk;
    int m_iChunkUsed;
    int m_iChunkPos;
    bool m_bEof;
};
