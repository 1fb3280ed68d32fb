#include <krerrlog/support/KrXlate.h>

#include <krerrlog/support/internal/KrLibraryLoader.h>
#include <krerrlog/support/internal/KrMemoryPolicy.h>
#include <krerrlog/support/internal/KrNeverDestroyed.h>
#include <krerrlog/support/internal/KrPropertiesFile.h>
#include <krerrlog/support/KrReadWriteGuard.h>
#include <krerrlog/support/platform/KrPlatformFiles.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace krerrlog {
namespace {

// One bundle file, immutable once built: keys and values live NUL-terminated in
// one block, with an index sorted by key, so a lookup is a binary search that
// allocates nothing. Keys missing here are looked up in the parent locale's bundle.
class PropertiesBundle final : public CKrXlate {
public:
    PropertiesBundle(const PropertyList& entries, const CKrXlate* parent) : m_pParent(parent)
    {
        // The last of equal keys wins: sort by key, stably, and keep the last of each run.
        std::vector<size_t> order(entries.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return std::strcmp(entries[a].first.c_str(), entries[b].first.c_str()) < 0;
        });
        size_t bytes = 0;
        for (const auto& entry : entries) bytes += entry.first.size() + entry.second.size() + 2;
        m_storage.reserve(bytes);
        for (size_t i = 0; i < order.size(); ++i) {
            const auto& entry = entries[order[i]];
            if (i + 1 < order.size() && std::strcmp(entry.first.c_str(), entries[order[i + 1]].first.c_str()) == 0) {
                continue;
            }
            Entry stored{m_storage.size(), 0};
            m_storage.append(entry.first.c_str());
            m_storage += '\0';
            stored.value = m_storage.size();
            m_storage.append(entry.second);
            m_storage += '\0';
            m_index.push_back(stored);
        }
    }

    const char* GetText(const char* key) const override
    {
        if (!key) return nullptr;
        const char* base = m_storage.data();
        auto it = std::lower_bound(m_index.begin(), m_index.end(), key,
                                   [base](const Entry& entry, const char* wanted) {
                                       return std::strcmp(base + entry.key, wanted) < 0;
                                   });
        if (it != m_index.end() && std::strcmp(base + it->key, key) == 0) return base + it->value;
        return m_pParent ? m_pParent->GetText(key) : nullptr;
    }

    // Bundles are cached for the life of the process; giving one back frees nothing.
    void Release() override {}

private:
    struct Entry {
        size_t key;
        size_t value;
    };
    std::string m_storage;
    std::vector<Entry> m_index;
    const CKrXlate* m_pParent;
};

struct BundleKey {
    std::string bundle;
    std::string locale;
};

// Compares stored keys with views, so a lookup builds no string.
struct BundleKeyLess {
    using is_transparent = void;
    template <class A, class B>
    bool operator()(const A& a, const B& b) const
    {
        return View(a) < View(b);
    }
    static std::pair<std::string_view, std::string_view> View(const BundleKey& key) { return {key.bundle, key.locale}; }
    static std::pair<std::string_view, std::string_view> View(const std::pair<std::string_view, std::string_view>& key)
    {
        return key;
    }
};

// The bundles read from one resource folder, including the locales that have no
// file (a null entry, or the parent's bundle), so no file is read twice.
struct ResourceFolder {
    explicit ResourceFolder(std::string folder) : path(std::move(folder)) {}
    std::string path;
    std::map<BundleKey, CKrXlate*, BundleKeyLess> found;
    std::vector<std::unique_ptr<PropertiesBundle>> bundles;
};

// Never destroyed: bundles handed out stay valid for the life of the process,
// also after the resource folder changed (the earlier folder is kept).
class BundleCache {
public:
    BundleCache() : m_pCurrent(Keep(std::make_unique<ResourceFolder>(LibraryFolder()))) {}

    CKrXlate* Find(std::string_view bundle, std::string_view locale)
    {
        ResourceFolder* folder;
        {
            CKrAutoReader read(&m_lock);
            auto it = m_pCurrent->found.find(std::make_pair(bundle, locale));
            if (it != m_pCurrent->found.end()) return it->second;
            folder = m_pCurrent;
        }
        // One loader at a time; lookups of cached bundles go on meanwhile.
        std::lock_guard<std::mutex> loading(m_loadLock);
        return Load(*folder, bundle, locale);
    }

    void SetFolder(std::string path)
    {
        std::lock_guard<std::mutex> loading(m_loadLock);
        auto folder = std::make_unique<ResourceFolder>(std::move(path));
        CKrAutoWriter write(&m_lock);
        m_pCurrent = Keep(std::move(folder));
    }

private:
    ResourceFolder* Keep(std::unique_ptr<ResourceFolder> folder)
    {
        m_folders.push_back(std::move(folder));
        return m_folders.back().get();
    }

    // Resolves the chain base -> "de" -> "de_DE", reading each file at most once.
    CKrXlate* Load(ResourceFolder& folder, std::string_view bundle, std::string_view locale)
    {
        CKrXlate* parent = nullptr;
        size_t end = 0;
        for (bool base = true;; base = false) {
            const std::string_view level = base ? std::string_view() : locale.substr(0, end);
            parent = LoadLevel(folder, bundle, level, parent);
            if (end >= locale.size()) return parent;
            end = locale.find('_', end + (base ? 0 : 1));
            if (end == std::string_view::npos) end = locale.size();
        }
    }

    CKrXlate* LoadLevel(ResourceFolder& folder, std::string_view bundle, std::string_view level, CKrXlate* parent)
    {
        {
            CKrAutoReader read(&m_lock);
            auto it = folder.found.find(std::make_pair(bundle, level));
            if (it != folder.found.end()) return it->second;
        }
        std::string path = folder.path;
        path += '/';
        path += bundle;
        if (!level.empty()) {
            path += '_';
            path += level;
        }
        path += ".properties";
        CKrXlate* result = parent;
        std::unique_ptr<PropertiesBundle> bundleRead;
        PropertyList entries;
        if (ReadPropertiesFile(path, entries)) {
            bundleRead = std::make_unique<PropertiesBundle>(entries, parent);
            result = bundleRead.get();
        }
        CKrAutoWriter write(&m_lock);
        if (bundleRead) folder.bundles.push_back(std::move(bundleRead));
        folder.found.emplace(BundleKey{std::string(bundle), std::string(level)}, result);
        return result;
    }

    // Guards m_pCurrent and every folder's found/bundles. A waiting writer goes
    // first, so a steady stream of lookups cannot hold off a folder change.
    CKrReadWriteGuard m_lock;
    std::mutex m_loadLock;
    std::vector<std::unique_ptr<ResourceFolder>> m_folders;
    ResourceFolder* m_pCurrent KRERRLOG_GUARDED_BY(m_lock);
};

BundleCache& TheBundleCache()
{
    static NeverDestroyed<BundleCache> cache;
    return cache.Get();
}

constexpr size_t kLocaleCapacity = 64;

// The locale as bundle files name it: "de_DE" from "de_DE.UTF-8", "de-DE" or
// "de_DE@euro". Null, empty or unusable names (other characters, too long)
// give the base bundle.
std::string_view BundleLocale(const char* locale, char (&out)[kLocaleCapacity])
{
    if (!locale) return {};
    size_t n = 0;
    for (const char* p = locale; *p && *p != '.' && *p != '@'; ++p) {
        char c = *p == '-' ? '_' : *p;
        const bool usable = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!usable || n + 1 >= kLocaleCapacity) return {};
        out[n++] = c;
    }
    return std::string_view(out, n);
}

// A bundle name is a file name stem: no folder parts.
bool IsUsableBundleName(const char* name)
{
    return name && *name && !std::strchr(name, '/') && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

}  // namespace
}  // namespace krerrlog

CKrXlate* CKrXlate::GetBundle(const char* bundleName, const char* locale)
{
    if (!krerrlog::IsUsableBundleName(bundleName)) return nullptr;
    char localeText[krerrlog::kLocaleCapacity];
    const std::string_view wanted = krerrlog::BundleLocale(locale, localeText);
    // Without memory to read it, the bundle is missing; a later call tries again.
    return krerrlog::NoThrow<CKrXlate*>(nullptr, [&] { return krerrlog::TheBundleCache().Find(bundleName, wanted); });
}

bool CKrXlate::SetResourceDirectory(const char* directory)
{
    if (!directory || !*directory) return false;
    if (!krerrlog::PlatformPathIsFolder(directory)) return false;
    return krerrlog::NoThrowDone([directory] {
        std::string path = directory;
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        krerrlog::TheBundleCache().SetFolder(std::move(path));
    });
}

namespace {

// Appends to out while room is left; remembers whether anything was cut.
class MessageOutput {
public:
    MessageOutput(char* out, unsigned long size) : m_out(out), m_room(size - 1) {}

    void Append(const char* text, size_t count)
    {
        if (count > m_room - m_used) {
            count = m_room - m_used;
            m_bCut = true;
        }
        std::memcpy(m_out + m_used, text, count);
        m_used += count;
    }
    bool Full() const { return m_bCut; }

    void Finish()
    {
        // A cut text ends before a partial UTF-8 character, not inside it.
        if (m_bCut) {
            size_t end = m_used;
            while (end > 0 && (static_cast<unsigned char>(m_out[end - 1]) & 0xC0) == 0x80) --end;
            if (end > 0) {
                const unsigned char lead = static_cast<unsigned char>(m_out[end - 1]);
                const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
                if (length > 1 && m_used - (end - 1) < length) m_used = end - 1;
            }
        }
        m_out[m_used] = '\0';
    }

private:
    char* m_out;
    size_t m_room;
    size_t m_used = 0;
    bool m_bCut = false;
};

// The argument index of a "{n}" at text (text points at '{'), or -1; `length`
// receives the placeholder's length.
long long PlaceholderIndex(const char* text, size_t argc, size_t& length)
{
    const char* p = text + 1;
    unsigned long long index = 0;
    while (*p >= '0' && *p <= '9') {
        if (index <= argc) index = index * 10 + static_cast<unsigned>(*p - '0');
        ++p;
    }
    if (p == text + 1 || *p != '}' || index >= argc) return -1;
    length = static_cast<size_t>(p + 1 - text);
    return static_cast<long long>(index);
}

}  // namespace

void CKrXlate::FormatMessageA(char* out, unsigned long outSize, const char* text, size_t argc, const char** argv)
{
    if (!out || outSize == 0) return;
    if (!argv) argc = 0;
    MessageOutput output(out, outSize);
    const char* p = text ? text : "";
    while (*p && !output.Full()) {
        const char* brace = std::strchr(p, '{');
        if (!brace) {
            output.Append(p, std::strlen(p));
            break;
        }
        output.Append(p, static_cast<size_t>(brace - p));
        size_t length = 0;
        const long long index = PlaceholderIndex(brace, argc, length);
        if (index < 0) {
            output.Append("{", 1);
            p = brace + 1;
            continue;
        }
        const char* argument = argv[index];
        if (argument) output.Append(argument, std::strlen(argument));
        p = brace + length;
    }
    output.Finish();
}
