// A text built in a fixed buffer by a crashing thread: appends that never
// allocate and never run past the end (what does not fit is refused whole).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace krerrlog {

class CrashText {
public:
    CrashText(char* buffer, size_t capacity) : m_data(buffer), m_capacity(capacity) { Clear(); }

    void Clear()
    {
        m_length = 0;
        if (m_capacity > 0) m_data[0] = '\0';
    }
    const char* Data() const { return m_data; }
    size_t Length() const { return m_length; }
    // Room for text, one byte always kept for the closing NUL.
    size_t Room() const { return m_capacity > m_length ? m_capacity - m_length - 1 : 0; }

    // Each append adds all of its text or, when it does not fit, nothing.
    bool Append(const char* text, size_t length)
    {
        if (!text || length > Room()) return false;
        std::memcpy(m_data + m_length, text, length);
        m_length += length;
        m_data[m_length] = '\0';
        return true;
    }
    bool Append(const char* text) { return text && Append(text, std::strlen(text)); }
    bool Append(const CrashText& other) { return Append(other.Data(), other.Length()); }

    bool AppendDecimal(long long value, int minDigits = 1)
    {
        char digits[24];
        size_t n = 0;
        unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                                 : static_cast<unsigned long long>(value);
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0 && n < sizeof digits);
        while (n < static_cast<size_t>(minDigits) && n < sizeof digits - 1) digits[n++] = '0';
        if (value < 0) digits[n++] = '-';
        return AppendReversed(digits, n);
    }

    // Upper-case hexadecimal without a prefix or leading zeros.
    bool AppendHex(uint64_t value)
    {
        static const char kDigits[] = "0123456789ABCDEF";
        char digits[16];
        size_t n = 0;
        do {
            digits[n++] = kDigits[value & 0xF];
            value >>= 4;
        } while (value != 0);
        return AppendReversed(digits, n);
    }

private:
    bool AppendReversed(const char* digits, size_t n)
    {
        if (n > Room()) return false;
        for (size_t i = 0; i < n; ++i) m_data[m_length + i] = digits[n - 1 - i];
        m_length += n;
        m_data[m_length] = '\0';
        return true;
    }

    char* m_data;
    size_t m_capacity;
    size_t m_length;
};

}  // namespace krerrlog
