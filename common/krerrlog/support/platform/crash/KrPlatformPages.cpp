// Crash-path memory as private anonymous mappings.
#include <krerrlog/support/platform/crash/KrPlatformPages.h>

#include <cstring>
#include <sys/mman.h>

namespace krerrlog {

void* AllocateCommittedPages(std::size_t bytes)
{
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    std::memset(memory, 0, bytes);  // committed now, not at the crash
    return memory;
}

void FreePages(void* memory, std::size_t bytes)
{
    if (memory) munmap(memory, bytes);
}

}  // namespace krerrlog
