#include <krerrlog/output/internal/KrDirectoryListing.h>

#include <dirent.h>

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
    std::vector<std::string> names;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        if (MatchesWildcard(pattern.c_str(), name)) names.emplace_back(name);
    }
    closedir(dir);
    return names;
}

}  // namespace krerrlog
