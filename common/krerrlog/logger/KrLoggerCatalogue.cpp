// Component slots, the loading and unloading of component libraries, the
// message catalogue lookups and the tables of known components and data fields.
#include <krerrlog/trace/internal/KrTraceFieldSettings.h>
#include <krerrlog/logger/CKrLogger.h>

#include <krerrlog/logger/CKrErrLogComponent.h>
#include <krerrlog/logger/CKrLogComponent.h>
#include <krerrlog/logger/internal/KrComponentLibrary.h>
#include <krerrlog/support/internal/KrMemoryPolicy.h>
#include <krerrlog/trace/KrTraceVocabulary.h>

#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr int kComponentSlots = KR_KNOWN_COMPONENT_LIB_COUNT;
// Sub-component numbers take one byte of the component id.
constexpr unsigned int kMaxSubComponents = 255;

const char* OrEmpty(const char* text) { return text ? text : ""; }

bool IsSubComponentEntry(const KrTraceComponentInfo& entry) { return ((entry.id >> 16) & 0xFFu) != 0; }

// The sub-components a component lists, capped to what the id scheme can number.
unsigned int SubComponentsOf(CKrErrLogComponent* component, const KrSubComponentInfo*& list)
{
    unsigned int count = 0;
    list = nullptr;
    component->GetSubComponents(count, list);
    if (!list) return 0;
    return count > kMaxSubComponents ? kMaxSubComponents : count;
}

// "component/sub-component", allocated (null without memory); the
// sub-component name may fill its 32 bytes without a terminating NUL.
char* NewSubComponentName(const char* componentName, const KrSubComponentInfo& sub)
{
    const size_t componentLength = std::strlen(componentName);
    const size_t subLength = strnlen(sub.name, sizeof sub.name);
    char* name = new (std::nothrow) char[componentLength + 1 + subLength + 1];
    if (!name) return nullptr;
    std::memcpy(name, componentName, componentLength);
    name[componentLength] = '/';
    std::memcpy(name + componentLength + 1, sub.name, subLength);
    name[componentLength + 1 + subLength] = '\0';
    return name;
}

}  // namespace

// ---- Lookups (no lock: slots change only in Init and Release) ----

const char* CKrLogger::FetchMsg(unsigned int msgId) const
{
    const unsigned int component = msgId >> 24;
    if (!m_bInited || !m_pComponents || component == 0 || component > static_cast<unsigned int>(m_iComponentCount))
        return nullptr;
    CKrErrLogComponent* slot = m_pComponents[component - 1];
    return slot ? slot->GetMessage(msgId) : nullptr;
}

const char* CKrLogger::GetMsgBundle(unsigned int msgId) const
{
    const unsigned int component = msgId >> 24;
    if (!m_bInited || !m_pComponents || component == 0 || component > static_cast<unsigned int>(m_iComponentCount))
        return nullptr;
    CKrErrLogComponent* slot = m_pComponents[component - 1];
    return slot ? slot->m_bundleName : nullptr;
}

const char* CKrLogger::GetAvailableComponents() const
{
    return m_availableComponents.empty() ? nullptr : m_availableComponents.c_str();
}

const char* CKrLogger::GetAvailableDataFields() const
{
    return m_availableDataFields.empty() ? nullptr : m_availableDataFields.c_str();
}

// ---- Component libraries ----

CKrErrLogComponent* CKrLogger::LoadComponent(unsigned long, const char* libraryName)
{
    // A library without the entry point, or whose entry point gives nothing,
    // is treated as missing: unloaded, its slot left empty.
    return krerrlog::ComponentLibrary::Load(libraryName);
}

void CKrLogger::UnloadComponent(CKrErrLogComponent* component)
{
    if (component) krerrlog::ComponentLibrary::Detach(component, true);
}

bool CKrLogger::SetUpComponents()
{
    int libraryCount = 0;
    const char** libraryNames = nullptr;
    GetKnownComponentLibs(&libraryCount, &libraryNames);

    m_pComponents = new (std::nothrow) CKrErrLogComponent*[kComponentSlots]();
    if (!m_pComponents) return false;
    m_iComponentCount = kComponentSlots;
    // Slot 0 is always the built-in component; row 0 of the list is never loaded.
    m_pComponents[0] = new (std::nothrow) CKrLogComponent;
    if (!m_pComponents[0]) return false;
    for (int slot = 1; slot < kComponentSlots && slot < libraryCount; ++slot)
        m_pComponents[slot] = LoadComponent(0, libraryNames[slot]);
    return InitKnownInfo();
}

void CKrLogger::DropComponents()
{
    // Only what this set-up loaded is given back; the turn of the first
    // release to unload the libraries is left to a logger that got going.
    for (int slot = 0; m_pComponents && slot < m_iComponentCount; ++slot) {
        if (slot == 0)
            delete m_pComponents[slot];
        else if (m_pComponents[slot])
            UnloadComponent(m_pComponents[slot]);
    }
    delete[] m_pComponents;
    m_pComponents = nullptr;
    m_iComponentCount = 0;
}

void CKrLogger::UnloadComponents()
{
    if (m_pComponents) {
        // Only the first release in the process unloads the libraries; loggers
        // may be released on several threads at once, so the turn is claimed.
        if (m_iComponentCount != 0 && !m_bUnloadedComponents.exchange(true)) {
            for (int slot = 0; slot < m_iComponentCount; ++slot) {
                if (!m_pComponents[slot]) continue;
                if (slot == 0)
                    delete m_pComponents[slot];
                else
                    UnloadComponent(m_pComponents[slot]);
                m_pComponents[slot] = nullptr;
            }
            m_iComponentCount = 0;
        } else {
            // A later release leaves the libraries loaded, as the first release
            // found them, but frees what this logger owns: its built-in
            // component and its share of the library holders.
            for (int slot = 0; slot < m_iComponentCount; ++slot) {
                CKrErrLogComponent* component = m_pComponents[slot];
                if (!component) continue;
                if (slot == 0)
                    delete component;
                else
                    krerrlog::ComponentLibrary::Detach(component, false);
                m_pComponents[slot] = nullptr;
            }
        }
    }
    delete[] m_pComponents;
    m_pComponents = nullptr;
}

// ---- Lists and tables of known components and data fields ----

bool CKrLogger::InitKnownInfo()
{
    // False when memory runs out; what was made is then left for
    // ReleaseKnownInfo, which also frees a table filled half-way.
    return krerrlog::NoThrow(false, [this] { return BuildKnownInfo(); });
}

bool CKrLogger::BuildKnownInfo()
{
    // Component list and table: each component, then its sub-components.
    // Each component is asked for its sub-components once: a second answer
    // could list more than the table was sized for.
    m_availableComponents.clear();
    struct Listed {
        const KrSubComponentInfo* subs = nullptr;
        unsigned int count = 0;
    };
    std::vector<Listed> listed(static_cast<size_t>(m_iComponentCount > 0 ? m_iComponentCount : 0));
    int entries = 0;
    for (int slot = 0; slot < m_iComponentCount; ++slot) {
        if (!m_pComponents[slot]) continue;
        listed[slot].count = SubComponentsOf(m_pComponents[slot], listed[slot].subs);
        entries += 1 + static_cast<int>(listed[slot].count);
    }
    m_pComponentInfo = new (std::nothrow) KrTraceComponentInfo[entries > 0 ? entries : 1];
    if (!m_pComponentInfo) return false;
    m_iComponentInfoCount = 0;

    bool anyComponent = false;
    for (int slot = 0; slot < m_iComponentCount; ++slot) {
        CKrErrLogComponent* component = m_pComponents[slot];
        if (!component) continue;
        anyComponent = true;
        const char* componentName = OrEmpty(component->m_name);
        // Only the component byte: sub-component entries are told apart by
        // their non-zero second byte.
        const unsigned int componentId = component->m_id & 0xFF000000u;
        m_availableComponents.append(componentName).append(" ; ").append(OrEmpty(component->m_description));
        KrTraceComponentInfo& own = m_pComponentInfo[m_iComponentInfoCount++];
        own.id = componentId;
        own.name = componentName;

        const KrSubComponentInfo* subs = listed[slot].subs;
        const unsigned int subCount = listed[slot].count;
        if (subCount != 0) m_availableComponents.append(" : ");
        for (unsigned int j = 0; j < subCount; ++j) {
            if (j != 0) m_availableComponents.push_back('&');
            m_availableComponents.append(subs[j].name, strnlen(subs[j].name, sizeof subs[j].name))
                .append(" ; ")
                .append(OrEmpty(subs[j].description));
            KrTraceComponentInfo& sub = m_pComponentInfo[m_iComponentInfoCount++];
            sub.id = ((j + 1) << 16) | componentId;
            sub.name = NewSubComponentName(componentName, subs[j]);
            if (!sub.name) return false;
        }
        m_availableComponents.append(" | ");
    }
    if (anyComponent) m_availableComponents.resize(m_availableComponents.size() - 3);

    // Data field list and table, one entry per known field in table order.
    int fieldCount = 0;
    const KNOWNDATAFIELDINFO* fields = nullptr;
    GetKnownDataFields(&fieldCount, &fields);
    m_availableDataFields.clear();
    m_pDataFieldInfo = new (std::nothrow) KrTraceDataFieldInfo[fieldCount];
    if (!m_pDataFieldInfo) return false;
    m_iDataFieldInfoCount = fieldCount;
    krerrlog::FillKnownDataFieldInfo(m_pDataFieldInfo);
    for (int i = 0; i < fieldCount; ++i) {
        m_availableDataFields.append(fields[i].name);
        if (i + 1 < fieldCount) m_availableDataFields.push_back(' ');
    }
    return true;
}

void CKrLogger::ReleaseKnownInfo()
{
    m_availableDataFields.clear();
    m_availableComponents.clear();
    for (int i = 0; i < m_iComponentInfoCount; ++i) {
        if (IsSubComponentEntry(m_pComponentInfo[i])) delete[] m_pComponentInfo[i].name;
    }
    delete[] m_pComponentInfo;
    m_pComponentInfo = nullptr;
    m_iComponentInfoCount = 0;
    delete[] m_pDataFieldInfo;
    m_pDataFieldInfo = nullptr;
    m_iDataFieldInfoCount = 0;
}
