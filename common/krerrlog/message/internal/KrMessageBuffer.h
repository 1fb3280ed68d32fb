// The growable text of a message. Length always stays below capacity, so the
// terminating NUL always fits; a buffer that grew shrinks back on Reset. When
// memory runs out the text is cut where it stopped fitting and stays cut until
// Reset; a buffer that never got a block holds the empty text.
#pragma once

#include <climits>
#include <cstddef>
#include <cstring>

namespace krerrlog {

class MessageBuffer {
public:
    static constexpr int kInitialCapacity = 4096;

    MessageBuffer();
    ~MessageBuffer();
    MessageBuffer(const MessageBuffer&) = delete;
    MessageBuffer& operator=(const MessageBuffer&) = delete;

    // The appends are inline for the common case, a piece that fits in the
    // block: a trace line is dozens of them, each a few bytes long.
    void AppendChar(char c)
    {
        if (Fits(1)) {
            m_pData[m_iLength++] = c;
        } else {
            AppendCharSlow(c);
        }
    }
    void AppendString(const char* s)
    {
        if (!s) return;
        const size_t length = std::strlen(s);
        AppendBytes(s, length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length));
    }
    void AppendBytes(const char* p, int n)
    {
        if (n >= 0 && Fits(n)) {
            m_iLastAppendLength = n;
            std::memcpy(m_pData + m_iLength, p, static_cast<size_t>(n));
            m_iLength += n;
        } else {
            AppendBytesSlow(p, n);
        }
    }
    void AppendFill(char c, int n);
    void Reset();

    // NUL-terminates and returns the text.
    const char* Terminated()
    {
        if (!m_pData) return "";
        m_pData[m_iLength] = '\0';
        return m_pData;
    }
    int Length() const { return m_iLength; }
    int Capacity() const { return m_iCapacity; }
    bool Grown() const { return m_bGrown; }
    int LastAppendLength() const { return m_iLastAppendLength; }
    // Writable view for in-place edits of text already appended (null while
    // the buffer holds no block, when there is no text either).
    char* Data() { return m_pData; }
    bool Cut() const { return m_bCut; }

private:
    // Whether n more characters go in without growing (and the text is not cut).
    bool Fits(int n) const { return !m_bCut && static_cast<long long>(m_iLength) + n < m_iCapacity; }
    void AppendCharSlow(char c);
    void AppendBytesSlow(const char* p, int n);

    // Makes room for n more characters (capacity + 1024 + n when they do not
    // fit) and returns how many fit: n, or less when the heap refused.
    int Reserve(int n);

    int m_iLength;
    int m_iLastAppendLength;
    int m_iCapacity;
    bool m_bGrown;
    bool m_bCut;
    char* m_pData;
};

}  // namespace krerrlog

// The name under which the message record knows its buffer.
using CKrMessageBuffer = krerrlog::MessageBuffer;
