// The message texts of a trace call, formatted into the record's three fixed
// buffers, or into a long text when they do not fit. Long texts are chained
// (each block starts with a link to the one made before it) so that every
// long text of a trace call stays valid until the record is cleaned up, even
// when a field still points at an earlier one.
#include <krerrlog/trace/CKrTraceData.h>

#include <krerrlog/support/KrSafeFormat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kLinkSize = sizeof(char*);

char* BlockOf(char* text) { return text - kLinkSize; }

char* PreviousOf(char* text)
{
    char* previous;
    std::memcpy(&previous, BlockOf(text), kLinkSize);
    return previous;
}

}  // namespace

char* CKrTraceData::NewLongText(size_t length)
{
    char* block = static_cast<char*>(std::calloc(kLinkSize + length + 1, 1));
    if (!block) return nullptr;
    std::memcpy(block, &m_pszLongText, kLinkSize);
    m_pszLongText = block + kLinkSize;
    return m_pszLongText;
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
