// Splits one line of a trace configuration file into tokens at runs of the
// separators ":, \t\n". Re-entrant: all state is in the object, and the line
// is read, never written.
#pragma once

#include <cstddef>
#include <string_view>

namespace krerrlog {

class TraceConfigTokenizer {
public:
    static constexpr std::string_view kSeparators = ":, \t\n";

    explicit TraceConfigTokenizer(std::string_view line) : m_line(line) {}

    // The next token, or false when the line holds no more.
    bool Next(std::string_view& token);
    // Offset in the line just past the last token returned.
    size_t Position() const { return m_position; }

    static bool IsSeparator(char c) { return kSeparators.find(c) != std::string_view::npos; }

private:
    std::string_view m_line;
    size_t m_position = 0;
};

}  // namespace krerrlog
