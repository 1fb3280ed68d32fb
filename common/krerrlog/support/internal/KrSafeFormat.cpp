#include <krerrlog/support/internal/KrSafeFormat.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

// Appends to a caller buffer, keeping the full length of the text even where the
// buffer is too small. Lengths are counted in 64 bits so a huge width cannot wrap.
class BoundedOutput {
public:
    BoundedOutput(char* buffer, unsigned long size) : m_buffer(buffer), m_room(size > 0 ? size - 1 : 0) {}

    void Append(const char* text, size_t count)
    {
        if (m_length < m_room) {
            const unsigned long long fits = m_room - m_length;
            const size_t n = count < fits ? count : static_cast<size_t>(fits);
            std::memcpy(m_buffer + m_length, text, n);
        }
        m_length += count;
    }

    void AppendBlanks(unsigned long long count)
    {
        if (m_length < m_room) {
            const unsigned long long fits = m_room - m_length;
            std::memset(m_buffer + m_length, ' ', static_cast<size_t>(count < fits ? count : fits));
        }
        m_length += count;
    }

    // NUL-terminates what fits; the complete length, or -1 when it exceeds an int.
    int Finish(unsigned long size)
    {
        if (size > 0) m_buffer[m_length < m_room ? m_length : m_room] = '\0';
        if (m_length > static_cast<unsigned long long>(INT_MAX)) {
            errno = EOVERFLOW;
            return -1;
        }
        return static_cast<int>(m_length);
    }

private:
    char* m_buffer;
    unsigned long long m_room;
    unsigned long long m_length = 0;
};

struct Conversion {
    bool leftAlign = false;
    bool hasPrecision = false;
    unsigned long long width = 0;
    unsigned long long precision = 0;
};

bool IsFlag(char c)
{
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0';
}

// Switches rather than a search of a letter list: these run for every
// conversion of every traced message.
bool IsConversionLetter(char c)
{
    switch (c) {
    case 'd': case 'i': case 'o': case 'u': case 'x': case 'X': case 'e': case 'E': case 'f':
    case 'F': case 'g': case 'G': case 'a': case 'A': case 'c': case 's': case 'p': case 'n':
        return true;
    default:
        return false;
    }
}

// Reads decimal digits; saturates instead of overflowing (the total then exceeds an int).
const char* ReadNumber(const char* p, unsigned long long& value)
{
    value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value < (1ULL << 40)) value = value * 10 + static_cast<unsigned>(*p - '0');
        ++p;
    }
    return p;
}

const char* SkipLengthModifier(const char* p)
{
    if ((p[0] == 'h' && p[1] == 'h') || (p[0] == 'l' && p[1] == 'l')) return p + 2;
    switch (*p) {
    case 'h': case 'l': case 'j': case 'z': case 't': case 'L': case 'q':
        return p + 1;
    default:
        return p;
    }
}

// Parses the conversion starting after '%'. Returns the position after its
// letter, or null when it broke off; `stop` is then where it broke.
const char* ParseConversion(const char* p, Conversion& conversion, const char*& stop)
{
    for (; IsFlag(*p); ++p) {
        if (*p == '-') conversion.leftAlign = true;
    }
    p = ReadNumber(p, conversion.width);
    if (*p == '.') {
        conversion.hasPrecision = true;
        p = ReadNumber(p + 1, conversion.precision);
    }
    p = SkipLengthModifier(p);
    if (!IsConversionLetter(*p)) {
        stop = p;
        return nullptr;
    }
    return p + 1;
}

void WriteArgument(BoundedOutput& out, const Conversion& conversion, const char* text)
{
    if (!text) text = "(null)";
    // strnlen: with a precision the argument need not be NUL-terminated within it.
    const size_t length = conversion.hasPrecision
                              ? strnlen(text, static_cast<size_t>(conversion.precision))
                              : std::strlen(text);
    const unsigned long long padding = conversion.width > length ? conversion.width - length : 0;
    if (!conversion.leftAlign) out.AppendBlanks(padding);
    out.Append(text, length);
    if (conversion.leftAlign) out.AppendBlanks(padding);
}

}  // namespace

int safe_snprintf_impl(char* buffer, unsigned long size, const char* format, int argc, const char** argv)
{
    if (!format || argc < 0 || (!buffer && size > 0) || (!argv && argc > 0)) {
        errno = EINVAL;
        return -1;
    }
    BoundedOutput out(buffer, size);
    int next = 0;
    const char* p = format;
    while (*p) {
        const char* percent = std::strchr(p, '%');
        if (!percent) {
            out.Append(p, std::strlen(p));
            break;
        }
        out.Append(p, static_cast<size_t>(percent - p));
        if (percent[1] == '%') {
            out.Append("%", 1);
            p = percent + 2;
            continue;
        }
        Conversion conversion;
        const char* stop = nullptr;
        const char* after = ParseConversion(percent + 1, conversion, stop);
        if (!after) {
            // Not a conversion: keep its text; scanning resumes where it broke off.
            out.Append(percent, static_cast<size_t>(stop - percent));
            p = stop;
            continue;
        }
        if (next < argc) WriteArgument(out, conversion, argv[next++]);
        p = after;
    }
    return out.Finish(size);
}
