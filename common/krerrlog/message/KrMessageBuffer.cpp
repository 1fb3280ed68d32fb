#include <krerrlog/message/KrMessageBuffer.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace krerrlog {

MessageBuffer::MessageBuffer()
    : m_iLength(0),
      m_iLastAppendLength(0),
      m_iCapacity(kInitialCapacity),
      m_bGrown(false),
      m_pData(static_cast<char*>(std::malloc(kInitialCapacity)))
{
    m_pData[0] = '\0';
}

MessageBuffer::~MessageBuffer() { std::free(m_pData); }

int MessageBuffer::Reserve(int n)
{
    if (static_cast<long long>(m_iLength) + n < m_iCapacity) return n;
    const long long wanted = static_cast<long long>(m_iCapacity) + 1024 + n;
    if (wanted <= INT_MAX) {
        if (char* grown = static_cast<char*>(std::realloc(m_pData, static_cast<size_t>(wanted)))) {
            m_pData = grown;
            m_iCapacity = static_cast<int>(wanted);
            m_bGrown = true;
            return n;
        }
    }
    // The heap (or the 32-bit length) refused: the text is cut, never written past the block.
    return m_iCapacity - 1 - m_iLength;
}

void MessageBuffer::AppendChar(char c)
{
    if (Reserve(1) < 1) return;  // capacity + 1025 when full
    m_pData[m_iLength++] = c;
}

void MessageBuffer::AppendString(const char* s)
{
    if (!s) return;
    const size_t length = std::strlen(s);
    AppendBytes(s, length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length));
}

void MessageBuffer::AppendBytes(const char* p, int n)
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
    m_pData[0] = '\0';
    if (m_bGrown) {
        // Shrinking cannot really fail; if it does, the larger block is kept.
        if (char* shrunk = static_cast<char*>(std::realloc(m_pData, kInitialCapacity))) {
            m_pData = shrunk;
            m_bGrown = false;
            m_iCapacity = kInitialCapacity;
        }
    }
    m_iLength = 0;
}

}  // namespace krerrlog
