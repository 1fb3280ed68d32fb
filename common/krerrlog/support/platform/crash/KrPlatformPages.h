// Memory for the crash path, taken from the system in whole pages before any
// crash: zero-filled and touched at once, so that the crashing thread neither
// allocates nor pages it in.
#pragma once

#include <cstddef>

namespace krerrlog {

// Null when the system has no memory to give.
void* AllocateCommittedPages(std::size_t bytes);
void FreePages(void* memory, std::size_t bytes);

}  // namespace krerrlog
