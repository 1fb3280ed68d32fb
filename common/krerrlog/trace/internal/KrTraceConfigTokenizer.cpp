#include <krerrlog/trace/internal/KrTraceConfigTokenizer.h>

namespace krerrlog {

bool TraceConfigTokenizer::Next(std::string_view& token)
{
    size_t start = m_line.find_first_not_of(kSeparators, m_position);
    if (start == std::string_view::npos) {
        m_position = m_line.size();
        return false;
    }
    size_t end = m_line.find_first_of(kSeparators, start);
    if (end == std::string_view::npos) end = m_line.size();
    token = m_line.substr(start, end - start);
    m_position = end;
    return true;
}

}  // namespace krerrlog
