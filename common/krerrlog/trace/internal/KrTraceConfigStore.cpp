#include <krerrlog/trace/internal/KrTraceConfigStore.h>

#include <krerrlog/support/internal/KrMemoryPolicy.h>

#include <cstring>
#include <new>

namespace krerrlog {

TraceConfigStore* TraceConfigStore::Create(const char* delimiter, int componentCount,
                                           const KrTraceComponentInfo* components)
{
    std::unique_ptr<TraceConfigStore, void (*)(TraceConfigStore*)> store(new (std::nothrow) TraceConfigStore,
                                                                           &TraceConfigStore::Release);
    if (!store) return nullptr;
    const bool filled = NoThrowDone([&] {
        if (delimiter) {
            store->m_hasDelimiter = true;
            store->m_delimiter = delimiter;
        }
        if (components && componentCount > 0) {
            // The names are copied too: the logger frees its sub-component names
            // when it is released, and a copy may still be tracing then.
            const size_t count = static_cast<size_t>(componentCount);
            store->m_componentNames.reserve(count);
            store->m_components.assign(components, components + count);
            for (size_t i = 0; i < count; ++i) {
                const char* name = components[i].name;
                store->m_componentNames.emplace_back(name ? name : "");
            }
            for (size_t i = 0; i < count; ++i) {
                if (components[i].name) store->m_components[i].name = store->m_componentNames[i].c_str();
            }
        }
    });
    return filled ? store.release() : nullptr;
}

void TraceConfigStore::Release(TraceConfigStore* store)
{
    if (store && store->m_references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete store;
}

char* TraceConfigStore::SetFilterValue(unsigned int id, const char* text, size_t length)
{
    if (id >= static_cast<unsigned int>(KR_KNOWN_DATA_FIELD_COUNT)) return nullptr;
    std::unique_ptr<char[]> copy(new (std::nothrow) char[length + 1]);
    if (!copy) return nullptr;
    if (length > 0) std::memcpy(copy.get(), text, length);
    copy[length] = '\0';
    m_filterValues[id] = std::move(copy);
    return m_filterValues[id].get();
}

}  // namespace krerrlog
