#include <krerrlog/message/internal/KrMessageBuffer.h>

#include <climits>
#include <cstring>
#include <new>

namespace krerrlog {

MessageBuffer::MessageBuffer()
    : m_iLength(0),
      m_iLastAppendLength(0),
      m_iCapacity(0),
      m_bGrown(false),
      m_bCut(false),
      m_pData(new (std::nothrow) char[kInitialCapacity])
{
    // Without memory the buffer starts with no block; the first append tries again.
    if (m_pData) {
        m_iCapacity = kInitialCapacity;
        m_pData[0] = '\0';
    }
}

MessageBuffer::~MessageBuffer() { delete[] m_pData; }

int MessageBuffer::Reserve(int n)
{
    // A text cut short stays cut until Reset: a later, smaller piece that
    // would fit again must not leave a hole in the middle of the line.
    if (m_bCut) return 0;
    if (static_cast<long long>(m_iLength) + n < m_iCapacity) return n;
    long long wanted = static_cast<long long>(m_iCapacity) + 1024 + n;
    if (!m_pData && n < kInitialCapacity) wanted = kInitialCapacity;  // the first block, made late
    if (wanted <= INT_MAX) {
        if (char* grown = new (std::nothrow) char[static_cast<size_t>(wanted)]) {
            if (m_iLength > 0) std::memcpy(grown, m_pData, static_cast<size_t>(m_iLength));
            delete[] m_pData;
            m_pData = grown;
            m_iCapacity = static_cast<int>(wanted);
            m_bGrown = m_iCapacity > kInitialCapacity;
            return n;
        }
    }
    // The heap (or the 32-bit length) refused: the text is cut, never written past the block.
    m_bCut = true;
    return m_pData ? m_iCapacity - 1 - m_iLength : 0;
}

void MessageBuffer::AppendCharSlow(char c)
{
    if (Reserve(1) < 1) return;  // capacity + 1025 when full
    m_pData[m_iLength++] = c;
}

void MessageBuffer::AppendBytesSlow(const char* p, int n)
{
    if (n < 0) n = 0;
    m_iLastAppendLength = n;
    n = Reserve(n);
    if (n > 0) std::memcpy(m_pData + m_iLength, p, static_cast<size_t>(n));
    m_iLength += n;
}

void MessageBuffer::AppendFill(char c, int n)
{
    if (n < 0) n = 0;
    m_iLastAppendLength = n;
    n = Reserve(n);
    if (n > 0) std::memset(m_pData + m_iLength, c, static_cast<size_t>(n));
    m_iLength += n;
}

void MessageBuffer::Reset()
{
    if (m_bGrown) {
        // Without memory for the small block, the larger one is kept.
        if (char* shrunk = new (std::nothrow) char[kInitialCapacity]) {
            delete[] m_pData;
            m_pData = shrunk;
            m_bGrown = false;
            m_iCapacity = kInitialCapacity;
        }
    }
    if (m_pData) m_pData[0] = '\0';
    m_iLength = 0;
    m_bCut = false;
}

}  // namespace krerrlog
