// The message texts of a trace call, formatted into the record's three fixed
// buffers, or into a long text when they do not fit. Long texts are chained
// (each block starts with a link to the one made before it and the bytes of
// all long texts so far) so that every long text of a trace call stays valid
// until the record is cleaned up, even when a field still points at an
// earlier one. What one trace call may hold is bounded: a text that would take
// the long texts beyond kLongTextBytesPerCall comes back cut to its buffer.
#include <krerrlog/trace/CKrTraceData.h>

#include <krerrlog/support/internal/KrSafeFormat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Long texts a record holds between two clean-ups, terminators included.
constexpr size_t kLongTextBytesPerCall = 1u << 20;

// Block: [link to the previous text][bytes of all long texts so far][text].
constexpr size_t kLinkSize = sizeof(char*);
constexpr size_t kHeaderSize = kLinkSize + sizeof(size_t);

char* BlockOf(char* text) { return text - kHeaderSize; }

char* PreviousOf(char* text)
{
    char* previous;
    std::memcpy(&previous, BlockOf(text), kLinkSize);
    return previous;
}

size_t HeldUpTo(char* text)
{
    size_t held = 0;
    if (text) std::memcpy(&held, BlockOf(text) + kLinkSize, sizeof held);
    return held;
}

}  // namespace

char* CKrTraceData::NewLongText(size_t length)
{
    const size_t held = HeldUpTo(m_pszLongText);
    if (length >= kLongTextBytesPerCall - held) return nullptr;  // the caller cuts the text
    const size_t total = held + length + 1;
    char* block = static_cast<char*>(std::calloc(kHeaderSize + length + 1, 1));
    if (!block) return nullptr;
    std::memcpy(block, &m_pszLongText, kLinkSize);
    std::memcpy(block + kLinkSize, &total, sizeof total);
    m_pszLongText = block + kHeaderSize;
    return m_pszLongText;
}

bool CKrTraceData::InLongText(const char* text)
{
    const auto at = reinterpret_cast<uintptr_t>(text);
    for (char* longText = m_pszLongText; longText; longText = PreviousOf(longText)) {
        const size_t size = HeldUpTo(longText) - HeldUpTo(PreviousOf(longText));
        const auto start = reinterpret_cast<uintptr_t>(longText);
        if (at >= start && at - start < size) return true;
    }
    return false;
}

void CKrTraceData::FreeLongTexts()
{
    while (m_pszLongText) {
        char* previous = PreviousOf(m_pszLongText);
        std::free(BlockOf(m_pszLongText));
        m_pszLongText = previous;
    }
}

const char* CKrTraceData::FormatTraceMessageVA(const char* format, int count, const char** texts)
{
    char* buffer = m_formatBuffers[m_iBuffer % kFormatBufferCount];
    buffer[0] = '\0';
    if (!format || !*format) return buffer;
    if (!texts) count = 0;

    const int length = safe_snprintf_impl(buffer, kFormatBufferSize, format, count, texts);
    if (length < 0) {
        buffer[0] = '\0';
        return buffer;
    }
    // A text of exactly the buffer's size did not fit with its NUL either.
    if (length >= kFormatBufferSize) {
        char* longText = NewLongText(static_cast<size_t>(length));
        if (!longText) return buffer;
        safe_snprintf_impl(longText, static_cast<unsigned long>(length) + 1, format, count, texts);
        return longText;
    }
    return buffer;
}

const char* CKrTraceData::FormatTraceMessageVA(const char* format, va_list arguments)
{
    char* buffer = m_formatBuffers[m_iBuffer % kFormatBufferCount];
    buffer[0] = '\0';
    if (!format || !*format) return buffer;

    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(buffer, kFormatBufferSize, format, arguments);
    const char* result = buffer;
    if (length < 0) {
        buffer[0] = '\0';
    } else if (length >= kFormatBufferSize) {
        if (char* longText = NewLongText(static_cast<size_t>(length))) {
            std::vsnprintf(longText, static_cast<size_t>(length) + 1, format, again);
            result = longText;
        }
    }
    va_end(again);
    return result;
}
