// Reader of Java-style ".properties" files, the format of message bundles.
//
//   key=value, key:value or key value; blanks (space, tab, form feed) around
//   the separator and at the start of a line are skipped. Lines starting with
//   '#' or '!' are comments. A line ending in an odd number of backslashes
//   continues on the next line (whose leading blanks are skipped). Escapes in
//   keys and values: \t \n \r \f, \uXXXX (UTF-16, surrogate pairs combined,
//   written as UTF-8), and '\' before any other character stands for that
//   character ("\=", "\:", "\ ", "\\"). Lines end in "\n", "\r\n" or "\r".
//   Files are read as UTF-8 (a leading byte order mark is skipped); a file
//   that is not valid UTF-8 is taken as ISO-8859-1, as older tools wrote them.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace krerrlog {

using PropertyList = std::vector<std::pair<std::string, std::string>>;

// The entries of a properties text in file order; a later duplicate key is
// listed again (the last one wins).
PropertyList ParseProperties(std::string_view text);

// Reads and parses a file. False when it cannot be opened or read, or is a folder.
bool ReadPropertiesFile(const std::string& path, PropertyList& entries);

}  // namespace krerrlog
