#include <krerrlog/support/internal/KrFile.h>

#include <krerrlog/support/internal/KrFileOps.h>
#include <krerrlog/support/platform/KrPlatformFiles.h>

#include <climits>
#include <cstring>
#include <new>

CKrFile::CKrFile() : m_fd(-1), m_pChunk(nullptr), m_iChunkUsed(0), m_iChunkPos(0), m_bEof(false) {}

CKrFile::~CKrFile()
{
    CloseFile();
    delete[] m_pChunk;
}

bool CKrFile::OpenFile(const char* path, int /*mode*/)
{
    CloseFile();
    if (!path || !*path) return false;
    if (!m_pChunk) {
        m_pChunk = new (std::nothrow) char[kChunk];
        if (!m_pChunk) return false;
    }
    const int fd = KrOpen(path, 0 /* read only */, 0);
    if (fd < 0) return false;
    krerrlog::PlatformFileInfo info{};
    if (!krerrlog::PlatformInfoOf(fd, info) || info.folder) {
        krerrlog::PlatformClose(fd);
        return false;
    }
    m_fd = fd;
    m_iChunkUsed = 0;
    m_iChunkPos = 0;
    m_bEof = false;
    return true;
}

void CKrFile::CloseFile()
{
    if (m_fd < 0) return;
    krerrlog::PlatformClose(m_fd);
    m_fd = -1;
    m_iChunkUsed = 0;
    m_iChunkPos = 0;
    m_bEof = false;
}

int CKrFile::FillBuffer()
{
    const long long n = krerrlog::PlatformRead(m_fd, m_pChunk, kChunk);
    if (n < 0) return -1;
    m_iChunkUsed = static_cast<int>(n);
    m_iChunkPos = 0;
    if (n == 0) m_bEof = true;
    return static_cast<int>(n);
}

int CKrFile::ReadLine(void* buffer, int capacity)
{
    if (m_fd < 0 || !buffer || capacity <= 0) return -1;
    char* out = static_cast<char*>(buffer);
    const size_t room = static_cast<size_t>(capacity) - 1;
    size_t stored = 0;
    unsigned long long lineBytes = 0;  // the line's bytes in the file, without "\n"
    char lastByte = '\0';
    bool ended = false;

    while (!ended) {
        if (m_iChunkPos == m_iChunkUsed) {
            if (m_bEof) break;
            const int n = FillBuffer();
            if (n < 0) {
                out[0] = '\0';
                return -1;
            }
            if (n == 0) break;
        }
        const char* start = m_pChunk + m_iChunkPos;
        const size_t available = static_cast<size_t>(m_iChunkUsed - m_iChunkPos);
        const char* newline = static_cast<const char*>(std::memchr(start, '\n', available));
        const size_t piece = newline ? static_cast<size_t>(newline - start) : available;
        if (stored < room) {
            const size_t n = piece < room - stored ? piece : room - stored;
            std::memcpy(out + stored, start, n);
            stored += n;
        }
        if (piece > 0) lastByte = start[piece - 1];
        lineBytes += piece;
        m_iChunkPos += static_cast<int>(piece);
        if (newline) {
            ++m_iChunkPos;
            ended = true;
        }
    }
    if (!ended && lineBytes == 0) {
        out[0] = '\0';
        return 0;
    }
    // "\r\n" is one line end; the CR is in the buffer only when the line was not cut before it.
    if (ended && lastByte == '\r' && stored == lineBytes) --stored;
    out[stored] = '\0';
    const unsigned long long taken = lineBytes + (ended ? 1 : 0);
    return taken > static_cast<unsigned long long>(INT_MAX) ? INT_MAX : static_cast<int>(taken);
}

bool CKrFile::ReadRest(std::string& out, size_t limit)
{
    if (m_fd < 0) return false;
    size_t taken = 0;
    for (;;) {
        if (m_iChunkPos == m_iChunkUsed) {
            if (m_bEof) return true;
            const int n = FillBuffer();
            if (n < 0) return false;
            if (n == 0) return true;
        }
        const size_t available = static_cast<size_t>(m_iChunkUsed - m_iChunkPos);
        if (available > limit - taken) return false;
        out.append(m_pChunk + m_iChunkPos, available);
        taken += available;
        m_iChunkPos = m_iChunkUsed;
    }
}
