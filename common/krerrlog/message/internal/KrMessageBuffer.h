// The growable text of a message. Length always stays below capacity, so the
// terminating NUL always fits; a buffer that grew shrinks back on Reset. When
// memory runs out the text is cut where it stopped fitting and stays cut until
// Reset; a buffer that never got a block holds the empty text.
#pragma once

#include <cstddef>

namespace krerrlog {

class MessageBuffer {
public:
    static constexpr int kInitialCapacity = 4096;

    MessageBuffer();
    ~MessageBuffer();
    MessageBuffer(const MessageBuffer&) = delete;
    MessageBuffer& operator=(const MessageBuffer&) = delete;

    void AppendChar(char c);
    void AppendString(const char* s);
    void AppendBytes(const char* p, int n);
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
