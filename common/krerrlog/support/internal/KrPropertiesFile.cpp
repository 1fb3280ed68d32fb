#include <krerrlog/support/internal/KrPropertiesFile.h>

#include <krerrlog/support/internal/KrFileOps.h>
#include <krerrlog/support/platform/KrPlatformFiles.h>

namespace krerrlog {
namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\f';
}

bool IsLineEnd(char c)
{
    return c == '\n' || c == '\r';
}

void AppendUtf8(std::string& out, unsigned long codePoint)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The UTF-16 unit of "\uXXXX" at text[at] (at points at the backslash), or -1.
long ReadUnicodeEscape(std::string_view text, size_t at)
{
    if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return -1;
    long unit = 0;
    for (size_t i = at + 2; i < at + 6; ++i) {
        const int digit = HexValue(text[i]);
        if (digit < 0) return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

// Decodes the escape at text[at] (a backslash) into out; returns the bytes it took.
size_t DecodeEscape(std::string_view text, size_t at, std::string& out)
{
    if (at + 1 >= text.size()) return 1;  // a lone backslash at the end stands for nothing
    const char c = text[at + 1];
    switch (c) {
    case 't': out += '\t'; return 2;
    case 'n': out += '\n'; return 2;
    case 'r': out += '\r'; return 2;
    case 'f': out += '\f'; return 2;
    case 'u': break;
    default: out += c; return 2;
    }
    const long unit = ReadUnicodeEscape(text, at);
    if (unit < 0) {
        out += "\\u";  // not four hex digits: kept as written
        return 2;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        const long low = ReadUnicodeEscape(text, at + 6);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((static_cast<unsigned long>(unit) - 0xD800) << 10) +
                                (static_cast<unsigned long>(low) - 0xDC00));
            return 12;
        }
        AppendUtf8(out, 0xFFFD);
        return 6;
    }
    AppendUtf8(out, unit >= 0xDC00 && unit <= 0xDFFF ? 0xFFFD : static_cast<unsigned long>(unit));
    return 6;
}

std::string Unescape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '\\') {
            i += DecodeEscape(text, i, out);
        } else {
            out += text[i++];
        }
    }
    return out;
}

// Joins the natural lines of one logical line (continuations resolved, escapes
// still in place), starting at a line's first non-blank character.
std::string ReadLogicalLine(std::string_view text, size_t& pos)
{
    std::string line;
    for (;;) {
        size_t end = pos;
        while (end < text.size() && !IsLineEnd(text[end])) ++end;
        size_t backslashes = 0;
        while (backslashes < end - pos && text[end - 1 - backslashes] == '\\') ++backslashes;
        const bool continues = backslashes % 2 == 1;
        line.append(text.substr(pos, end - pos - (continues ? 1 : 0)));
        pos = end;
        // One line end: "\r\n", "\r" or "\n".
        if (pos < text.size() && text[pos] == '\r') ++pos;
        if (pos < text.size() && text[pos] == '\n') ++pos;
        if (!continues || pos >= text.size()) return line;
        while (pos < text.size() && IsBlank(text[pos])) ++pos;
        if (pos < text.size() && IsLineEnd(text[pos])) {
            // A blank line after a continuation ends the logical line.
            if (text[pos] == '\r') ++pos;
            if (pos < text.size() && text[pos] == '\n') ++pos;
            return line;
        }
    }
}

void SplitEntry(std::string_view line, PropertyList& entries)
{
    size_t i = 0;
    // The key ends at the first separator or blank that is not escaped.
    while (i < line.size()) {
        const char c = line[i];
        if (c == '\\') {
            i += 2;
            continue;
        }
        if (c == '=' || c == ':' || IsBlank(c)) break;
        ++i;
    }
    if (i > line.size()) i = line.size();
    const std::string_view rawKey = line.substr(0, i);
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i < line.size() && (line[i] == '=' || line[i] == ':')) ++i;
    while (i < line.size() && IsBlank(line[i])) ++i;
    entries.emplace_back(Unescape(rawKey), Unescape(line.substr(i)));
}

bool IsValidUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t more;
        unsigned long codePoint;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            codePoint = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            codePoint = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            codePoint = c & 0x07;
        } else {
            return false;
        }
        if (i + more >= text.size()) return false;
        for (size_t k = 1; k <= more; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values above U+10FFFF are not UTF-8.
        if ((more == 2 && codePoint < 0x800) || (more == 3 && codePoint < 0x10000) || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        i += more + 1;
    }
    return true;
}

std::string Latin1ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) AppendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

}  // namespace

PropertyList ParseProperties(std::string_view text)
{
    std::string converted;
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (!IsValidUtf8(text)) {
        converted = Latin1ToUtf8(text);
        text = converted;
    }
    PropertyList entries;
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && IsBlank(text[pos])) ++pos;
        if (pos >= text.size()) break;
        const char first = text[pos];
        if (IsLineEnd(first) || first == '#' || first == '!') {
            // Blank line or comment: comments never continue.
            while (pos < text.size() && !IsLineEnd(text[pos])) ++pos;
            if (pos < text.size() && text[pos] == '\r') ++pos;
            if (pos < text.size() && text[pos] == '\n') ++pos;
            continue;
        }
        SplitEntry(ReadLogicalLine(text, pos), entries);
    }
    return entries;
}

bool ReadPropertiesFile(const std::string& path, PropertyList& entries)
{
    const int fd = KrOpen(path.c_str(), 0 /* read only */, 0);
    if (fd < 0) return false;
    PlatformFileInfo info{};
    if (!PlatformInfoOf(fd, info) || info.folder) {
        PlatformClose(fd);
        return false;
    }
    std::string content;
    char chunk[16384];
    for (;;) {
        const long long n = PlatformRead(fd, chunk, sizeof chunk);
        if (n < 0) {
            PlatformClose(fd);
            return false;
        }
        if (n == 0) break;
        content.append(chunk, static_cast<size_t>(n));
    }
    PlatformClose(fd);
    entries = ParseProperties(content);
    return true;
}

}  // namespace krerrlog
