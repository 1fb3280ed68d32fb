#include <krerrlog/output/internal/KrDirectoryListing.h>

#include <krerrlog/support/platform/KrPlatformDirectory.h>

#include <utility>

namespace krerrlog {

bool MatchesWildcard(const char* pattern, const char* name)
{
    // Greedy matching with one back-tracking point: the last '*' seen.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

std::vector<std::string> ListMatchingEntries(const std::string& folder, const std::string& pattern)
{
    struct Matching {
        const std::string& pattern;
        std::vector<std::string> names;
    } matching{pattern, {}};
    ForEachFolderEntry(folder.c_str(), [](const char* name, void* context) {
        auto& found = *static_cast<Matching*>(context);
        if (MatchesWildcard(found.pattern.c_str(), name)) found.names.emplace_back(name);
    }, &matching);
    return std::move(matching.names);
}

}  // namespace krerrlog
