// Function symbols of the mapped images, read by a crashing thread straight
// from the image files (the symbol table, else the dynamic symbol table) with
// pread into buffers allocated beforehand: no loader lock, no allocation.
// Names are the raw (mangled) names: demangling allocates.
#pragma once

#include <cstddef>
#include <cstdint>

namespace krerrlog {

struct MappedRange;

struct FoundSymbol {
    uintptr_t start;  // the symbol's address in this process
};

class ElfSymbols {
public:
    // Allocates the buffers (not at a crash). False when memory is short.
    bool Prepare();

    // Finds the function symbol holding address, which lies in range (mapped
    // from the image at path). Writes its name into name (cut to size - 1).
    // Async-signal-safe.
    bool Find(const char* path, const MappedRange& range, uintptr_t address, char* name, size_t nameSize,
              FoundSymbol& found);

    // Closes the image files opened by Find.
    void CloseAll();

private:
    struct Image;
    Image* Open(const char* path);
    bool Load(Image& image);

    Image* m_images = nullptr;
    size_t m_imageCount = 0;
    unsigned char* m_chunk = nullptr;
    // The last symbol found: the frames of a recursion are found without
    // another pass over the table.
    const Image* m_lastImage = nullptr;
    uint64_t m_lastValue = 0, m_lastSize = 0;
    char* m_lastName = nullptr;
};

}  // namespace krerrlog
