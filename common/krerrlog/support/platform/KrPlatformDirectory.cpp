// Folder entries through opendir and readdir.
#include <krerrlog/support/platform/KrPlatformDirectory.h>

#include <dirent.h>

namespace krerrlog {

bool ForEachFolderEntry(const char* folder, void (*visit)(const char* name, void* context), void* context)
{
    DIR* dir = opendir(folder && *folder ? folder : ".");
    if (!dir) return false;
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        visit(name, context);
    }
    closedir(dir);
    return true;
}

}  // namespace krerrlog
