// Listing a folder's entries whose names match a wildcard pattern.
#pragma once

#include <string>
#include <vector>

namespace krerrlog {

// True when name matches pattern, where '*' stands for any run of characters
// (also none) and '?' for exactly one; every other character stands for itself.
bool MatchesWildcard(const char* pattern, const char* name);

// Names (not paths) of the entries of folder that match pattern, in the
// folder's own order; "." and ".." are left out. An unreadable folder lists nothing.
std::vector<std::string> ListMatchingEntries(const std::string& folder, const std::string& pattern);

}  // namespace krerrlog
