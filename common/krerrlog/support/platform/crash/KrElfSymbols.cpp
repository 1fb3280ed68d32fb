// Function symbols from the ELF images mapped into the process.
#include <krerrlog/support/platform/crash/KrElfSymbols.h>

#include <krerrlog/support/platform/crash/KrPlatformPages.h>
#include <krerrlog/support/platform/crash/KrProcessMaps.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

namespace krerrlog {

namespace {

constexpr size_t kMostImages = 64;
constexpr size_t kMostLoads = 16;
constexpr size_t kChunkBytes = 64 * 1024;
constexpr size_t kLastNameBytes = 1024;

using Ehdr = ElfW(Ehdr);
using Phdr = ElfW(Phdr);
using Shdr = ElfW(Shdr);
using Sym = ElfW(Sym);

bool ReadAt(int fd, void* out, size_t length, uint64_t offset)
{
    char* at = static_cast<char*>(out);
    while (length > 0) {
        const ssize_t n = ::pread(fd, at, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n;
        length -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace

struct ElfSymbols::Image {
    char path[PATH_MAX];
    int fd;
    bool usable;
    size_t loadCount;
    struct {
        uint64_t offset, vaddr, size;
    } loads[kMostLoads];
    uint64_t symbolsAt, symbolsBytes, namesAt, namesBytes;
};

bool ElfSymbols::Prepare()
{
    if (m_images) return true;
    const size_t bytes = kMostImages * sizeof(Image) + kChunkBytes + kLastNameBytes;
    void* memory = AllocateCommittedPages(bytes);
    if (!memory) return false;
    m_images = static_cast<Image*>(memory);
    m_chunk = static_cast<unsigned char*>(memory) + kMostImages * sizeof(Image);
    m_lastName = reinterpret_cast<char*>(m_chunk + kChunkBytes);
    return true;
}

ElfSymbols::Image* ElfSymbols::Open(const char* path)
{
    for (size_t i = 0; i < m_imageCount; ++i) {
        if (std::strcmp(m_images[i].path, path) == 0) return m_images[i].usable ? &m_images[i] : nullptr;
    }
    const size_t length = std::strlen(path);
    if (m_imageCount >= kMostImages || length >= PATH_MAX) return nullptr;
    Image& image = m_images[m_imageCount++];
    std::memcpy(image.path, path, length + 1);
    do {
        image.fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (image.fd < 0 && errno == EINTR);
    image.usable = image.fd >= 0 && Load(image);
    return image.usable ? &image : nullptr;
}

// Reads the loadable segments (to turn file offsets into link-time addresses)
// and finds the symbol table with its name table.
bool ElfSymbols::Load(Image& image)
{
    Ehdr header;
    if (!ReadAt(image.fd, &header, sizeof header, 0)) return false;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32)) return false;
    if (header.e_phentsize != sizeof(Phdr) || header.e_shentsize != sizeof(Shdr)) return false;
    if (static_cast<size_t>(header.e_phnum) * sizeof(Phdr) > kChunkBytes) return false;
    if (!ReadAt(image.fd, m_chunk, header.e_phnum * sizeof(Phdr), header.e_phoff)) return false;
    const Phdr* segments = reinterpret_cast<const Phdr*>(m_chunk);
    image.loadCount = 0;
    for (size_t i = 0; i < header.e_phnum && image.loadCount < kMostLoads; ++i) {
        if (segments[i].p_type != PT_LOAD) continue;
        image.loads[image.loadCount++] = {segments[i].p_offset, segments[i].p_vaddr, segments[i].p_filesz};
    }
    if (static_cast<size_t>(header.e_shnum) * sizeof(Shdr) > kChunkBytes) return false;
    if (!ReadAt(image.fd, m_chunk, header.e_shnum * sizeof(Shdr), header.e_shoff)) return false;
    const Shdr* sections = reinterpret_cast<const Shdr*>(m_chunk);
    const Shdr* table = nullptr;
    for (size_t i = 0; i < header.e_shnum; ++i) {
        if (sections[i].sh_type == SHT_SYMTAB) table = &sections[i];
        if (sections[i].sh_type == SHT_DYNSYM && !table) table = &sections[i];
    }
    if (!table || table->sh_link >= header.e_shnum || table->sh_entsize != sizeof(Sym)) return false;
    image.symbolsAt = table->sh_offset;
    image.symbolsBytes = table->sh_size;
    image.namesAt = sections[table->sh_link].sh_offset;
    image.namesBytes = sections[table->sh_link].sh_size;
    return image.loadCount > 0;
}

bool ElfSymbols::Find(const char* path, const MappedRange& range, uintptr_t address, char* name, size_t nameSize,
                      FoundSymbol& found)
{
    if (!m_images || !path || path[0] != '/' || nameSize == 0) return false;
    Image* image = Open(path);
    if (!image) return false;
    // Address in the process -> offset in the file -> address the image was linked for.
    const uint64_t fileOffset = address - range.start + range.offset;
    uint64_t linked = 0;
    bool inSegment = false;
    for (size_t i = 0; i < image->loadCount && !inSegment; ++i) {
        const auto& load = image->loads[i];
        if (fileOffset >= load.offset && fileOffset < load.offset + load.size) {
            linked = fileOffset - load.offset + load.vaddr;
            inSegment = true;
        }
    }
    if (!inSegment) return false;

    if (image == m_lastImage && linked >= m_lastValue && linked < m_lastValue + m_lastSize) {
        const size_t length = std::min(std::strlen(m_lastName), nameSize - 1);
        std::memcpy(name, m_lastName, length);
        name[length] = '\0';
        found.start = address - static_cast<uintptr_t>(linked - m_lastValue);
        return true;
    }

    // The function symbol whose extent holds the address. Unsized symbols are
    // not guessed at: the nearest one below may belong to other code.
    uint64_t bestValue = 0, bestSize = 0, bestName = 0;
    bool any = false;
    const size_t perChunk = kChunkBytes / sizeof(Sym);
    const uint64_t total = image->symbolsBytes / sizeof(Sym);
    for (uint64_t first = 0; first < total && !any; first += perChunk) {
        const size_t count = static_cast<size_t>(total - first < perChunk ? total - first : perChunk);
        if (!ReadAt(image->fd, m_chunk, count * sizeof(Sym), image->symbolsAt + first * sizeof(Sym))) return false;
        const Sym* symbols = reinterpret_cast<const Sym*>(m_chunk);
        for (size_t i = 0; i < count; ++i) {
            const Sym& s = symbols[i];
            const int type = ELF64_ST_TYPE(s.st_info);  // the same bits in both classes
            if ((type != STT_FUNC && type != STT_GNU_IFUNC) || s.st_shndx == SHN_UNDEF) continue;
            if (s.st_value <= linked && linked < s.st_value + s.st_size) {
                bestValue = s.st_value, bestSize = s.st_size, bestName = s.st_name, any = true;
                break;
            }
        }
    }
    if (!any || bestName >= image->namesBytes) return false;
    size_t length = nameSize - 1;
    if (bestName + length > image->namesBytes) length = static_cast<size_t>(image->namesBytes - bestName);
    if (!ReadAt(image->fd, name, length, image->namesAt + bestName)) return false;
    name[length] = '\0';
    if (name[0] == '\0') return false;
    found.start = address - static_cast<uintptr_t>(linked - bestValue);
    const size_t kept = std::min(std::strlen(name), kLastNameBytes - 1);
    std::memcpy(m_lastName, name, kept);
    m_lastName[kept] = '\0';
    m_lastImage = image, m_lastValue = bestValue, m_lastSize = bestSize;
    return true;
}

void ElfSymbols::CloseAll()
{
    for (size_t i = 0; i < m_imageCount; ++i) {
        if (m_images[i].fd >= 0) ::close(m_images[i].fd);
    }
    m_imageCount = 0;
    m_lastImage = nullptr;
}

}  // namespace krerrlog
