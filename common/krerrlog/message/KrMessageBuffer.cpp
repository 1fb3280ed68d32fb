#include <krerrlog/message/KrMessageBuffer.h>

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

void MessageBuffer::Reserve(int n)
{
    if (m_iLength + n >= m_iCapacity) {
        m_iCapacity = m_iCapacity + 1024 + n;
        m_pData = static_cast<char*>(std::realloc(m_pData, static_cast<size_t>(m_iCapacity)));
        m_bGrown = true;
    }
}

void MessageBuffer::AppendChar(char c)
{
    Reserve(1);  // capacity + 1025 when full
    m_pData[m_iLength++] = c;
}

void MessageBuffer::AppendString(const char* s)
{
    if (!s) return;
    AppendBytes(s, static_cast<int>(std::strlen(s)));
}

void MessageBuffer::AppendBytes(const char* p, int n)
{
    if (n < 0) n = 0;
    m_iLastAppendLength = n;
    Reserve(n);
    if (n > 0) std::memcpy(m_pData + m_iLength, p, static_cast<size_t>(n));
    m_iLength += n;
}

void MessageBuffer::AppendFill(char c, int n)
{
    if (n < 0) n = 0;
    m_iLastAppendLength = n;
    Reserve(n);
    if (n > 0) std::memset(m_pData + m_iLength, c, static_cast<size_t>(n));
    m_iLength += n;
}

void MessageBuffer::Reset()
{
    m_pData[0] = '\0';
    if (m_bGrown) {
        m_pData = static_cast<char*>(std::realloc(m_pData, kInitialCapacity));
        m_bGrown = false;
        m_iCapacity = kInitialCapacity;
    }
    m_iLength = 0;
}

}  // namespace krerrlog
