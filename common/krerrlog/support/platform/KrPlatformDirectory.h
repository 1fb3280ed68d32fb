// Reading the entries of a folder.
#pragma once

namespace krerrlog {

// Calls visit with the name (not the path) of each entry of folder, in the
// folder's own order, leaving out "." and ".."; an empty folder name is the
// current folder. False when the folder cannot be read.
bool ForEachFolderEntry(const char* folder, void (*visit)(const char* name, void* context), void* context);

}  // namespace krerrlog
