// Message ids: bits 24-31 component number (1 to 26), bits 14-15 severity
// (1 information, 2 warning, 3 error), bits 0-13 message within the component.
// Header-only: component libraries use it without linking this library.
#pragma once

constexpr unsigned int KR_SEVERITY_SHIFT = 14;
constexpr unsigned int KR_SEVERITY_MASK = 0x3u << KR_SEVERITY_SHIFT;
constexpr unsigned int KR_SEVERITY_INFO = 1;
constexpr unsigned int KR_SEVERITY_WARNING = 2;
constexpr unsigned int KR_SEVERITY_ERROR = 3;

// The id of message number of component with a severity, as callers log it.
constexpr unsigned int KrMessageId(unsigned int component, unsigned int severity, unsigned int number)
{
    return (component << 24) | ((severity & 0x3u) << KR_SEVERITY_SHIFT) | (number & 0x3FFFu);
}
