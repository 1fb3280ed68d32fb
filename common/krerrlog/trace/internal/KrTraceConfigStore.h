// The texts of one trace configuration that every record refreshed from it
// points into: the delimiter, the component list with its names and selected
// flags, and the filter values. A master fills it while it reads the file
// (before anyone else sees it); from then on it is only read. Each record
// holds one reference, so the texts outlive the master for as long as a
// per-thread copy still runs a trace call with them.
#pragma once

#include <krerrlog/trace/KrTraceVocabulary.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace krerrlog {

class TraceConfigStore {
public:
    // A store with one reference, holding private copies of the delimiter
    // (none when null) and of the component entries and their names; null
    // without memory for them.
    static TraceConfigStore* Create(const char* delimiter, int componentCount,
                                    const KrTraceComponentInfo* components);

    void AddRef() { m_references.fetch_add(1, std::memory_order_relaxed); }
    // Drops one reference; the last one deletes the store. Null is accepted.
    static void Release(TraceConfigStore* store);

    char* Delimiter() { return m_hasDelimiter ? m_delimiter.data() : nullptr; }
    KrTraceComponentInfo* Components() { return m_components.empty() ? nullptr : m_components.data(); }
    int ComponentCount() const { return static_cast<int>(m_components.size()); }

    // Stores a private copy of the filter text of field id (replacing an
    // earlier one) and returns it; null, the earlier one kept, without memory.
    char* SetFilterValue(unsigned int id, const char* text, size_t length);

    int References() const { return m_references.load(std::memory_order_acquire); }

private:
    TraceConfigStore() = default;
    ~TraceConfigStore() = default;

    // A shared count: AddRef relaxed (the adder already holds a reference),
    // the last Release acq_rel so the deleting thread sees every holder's use.
    std::atomic<int> m_references{1};
    bool m_hasDelimiter = false;
    std::string m_delimiter;
    std::vector<std::string> m_componentNames;
    std::vector<KrTraceComponentInfo> m_components;
    std::unique_ptr<char[]> m_filterValues[KR_KNOWN_DATA_FIELD_COUNT];
};

}  // namespace krerrlog
