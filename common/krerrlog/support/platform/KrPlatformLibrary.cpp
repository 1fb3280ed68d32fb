// Component libraries through the dynamic loader: lib<name>.so, beside this
// library first.
#include <krerrlog/support/internal/KrLibraryLoader.h>

#include <krerrlog/support/internal/KrMemoryPolicy.h>

#include <dlfcn.h>
#include <string>

namespace krerrlog {

const char* LibraryFolder()
{
    static const std::string folder = [] {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) == 0 || !info.dli_fname) return std::string();
        std::string path = info.dli_fname;
        std::string::size_type slash = path.rfind('/');
        return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    }();
    return folder.c_str();
}

}  // namespace krerrlog

HMODULE KrLoadLibrary(const char* baseName)
{
    if (!baseName || !*baseName) return nullptr;
    // Without memory for the names nothing is loaded; none is made after a load.
    return krerrlog::NoThrow<HMODULE>(nullptr, [baseName]() -> HMODULE {
        const std::string fileName = std::string("lib") + baseName + ".so";
        const std::string besideUs = std::string(krerrlog::LibraryFolder()) + "/" + fileName;
        if (void* handle = dlopen(besideUs.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
        return dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    });
}

void* KrGetProcAddress(HMODULE library, const char* symbol)
{
    if (!library || !symbol) return nullptr;
    return dlsym(library, symbol);
}

bool KrFreeLibrary(HMODULE library)
{
    if (!library) return false;
    return dlclose(library) == 0;
}
