// The trace line layouts of the message record. Every operation is a few
// appends to the message buffer: no temporary strings, no allocation beyond
// the buffer's own growth.
#include <krerrlog/message/CKrErrLogMessage.h>

#include <krerrlog/message/internal/KrMessageBuffer.h>

#include <cstring>

namespace {

constexpr int kBracketed = 0;
constexpr int kFixedWidth = 1;
constexpr int kDelimited = 2;
constexpr int kElement = 3;

void AppendIfSet(krerrlog::MessageBuffer& buffer, const char* text)
{
    if (text) buffer.AppendString(text);
}

template <int OpenLength>
void AppendElementTag(krerrlog::MessageBuffer& buffer, const char (&open)[OpenLength], const char* name)
{
    buffer.AppendBytes(open, OpenLength - 1);
    AppendIfSet(buffer, name);
    buffer.AppendChar('>');
}

}  // namespace

void CKrErrLogMessage::BeginTraceFormat(int format, bool useLocalTime, const char* separator)
{
    m_iTraceFormat = format;
    m_bUseLocalTime = useLocalTime;
    m_pTraceSeparator = separator;
    m_bFirstFieldPending = true;
    if (format == kElement) AppendElementTag(*m_pBuffer, "<", separator);
}

void CKrErrLogMessage::newFormatTraceField(const char* value, int, const char* name)
{
    switch (m_iTraceFormat) {
    case kBracketed:
        m_pBuffer->AppendChar('[');
        AppendIfSet(*m_pBuffer, value);
        m_pBuffer->AppendChar(']');
        break;
    case kDelimited:
        if (!m_bFirstFieldPending) AppendIfSet(*m_pBuffer, m_pTraceSeparator);
        m_bFirstFieldPending = false;
        AppendIfSet(*m_pBuffer, value);
        break;
    case kElement:
        AppendElementTag(*m_pBuffer, "\t<", name);
        AppendIfSet(*m_pBuffer, value);
        AppendElementTag(*m_pBuffer, "</", name);
        break;
    case kFixedWidth:  // the name forms write the bare value in format 1
    default:
        AppendIfSet(*m_pBuffer, value);
        break;
    }
}

void CKrErrLogMessage::FormatTraceField(const char* value, const char* name, int unused)
{
    newFormatTraceField(value, unused, name);
    if (m_iTraceFormat == kElement) m_pBuffer->AppendChar('\n');
}

void CKrErrLogMessage::newFormatTraceField(const char* value, int, int width)
{
    FormatTraceField(value, width);
}

void CKrErrLogMessage::FormatTraceField(const char* value, int width)
{
    if (m_bFirstFieldPending) {
        m_bFirstFieldPending = false;
    } else {
        m_pBuffer->AppendBytes("  ", 2);
    }
    if (width <= 0) return;
    if (!value) {
        m_pBuffer->AppendFill(' ', width);
        return;
    }
    // strnlen: a long value is cut at the width without measuring all of it.
    const int length = static_cast<int>(strnlen(value, static_cast<size_t>(width)));
    m_pBuffer->AppendBytes(value, length);
    if (length < width) m_pBuffer->AppendFill(' ', width - length);
}

void CKrErrLogMessage::EndTraceFormat()
{
    if (m_iTraceFormat == kElement) AppendElementTag(*m_pBuffer, "</", m_pTraceSeparator);
    m_pBuffer->AppendChar('\n');
}

void CKrErrLogMessage::InMemFormatTraceField(const char* value, int)
{
    AppendIfSet(*m_pBuffer, value);
    m_pBuffer->AppendChar('|');
}

void CKrErrLogMessage::InMemFormatTraceField(int absentCount)
{
    if (absentCount > 0) m_pBuffer->AppendFill('|', absentCount);
}

void CKrErrLogMessage::InMemEndTraceFormat() { m_pBuffer->AppendChar('\n'); }
