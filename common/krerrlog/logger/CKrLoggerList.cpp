#include <krerrlog/logger/CKrLoggerList.h>

#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/support/internal/KrMemoryPolicy.h>
#include <krerrlog/support/internal/KrProcessWide.h>
#include <krerrlog/support/platform/KrForkSafety.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <new>

namespace krerrlog {

struct ByteOrder {
    bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
};

// Keys are the registry's own copies of the names (new[]'ed).
struct LoggerMap : std::map<const char*, CKrLogger*, ByteOrder> {
};

}  // namespace krerrlog

CKrLoggerList::CKrLoggerList() : m_pLoggers(nullptr) {}

CKrLoggerList::~CKrLoggerList()
{
    CKrErrLogAutoWriter writer(&m_guard);
    if (!m_pLoggers) return;
    for (auto& [name, logger] : *m_pLoggers) {
        delete logger;
        delete[] name;
    }
    delete m_pLoggers;
    m_pLoggers = nullptr;
}

CKrLogger* CKrLoggerList::GetLogger(const char* name)
{
    if (!name) return nullptr;
    CKrErrLogAutoReader reader(&m_guard);
    if (!m_pLoggers) return nullptr;
    const auto found = m_pLoggers->find(name);
    return found == m_pLoggers->end() ? nullptr : found->second;
}

CKrLogger* CKrLoggerList::AddLogger(const char* name)
{
    if (!name || !*name) return nullptr;
    // Held across the new logger's construction (it loads the component
    // libraries), so two threads adding one name get one logger.
    CKrErrLogAutoWriter writer(&m_guard);
    if (!m_pLoggers) {
        m_pLoggers = new (std::nothrow) krerrlog::LoggerMap;
        if (!m_pLoggers) return nullptr;
    }
    const auto found = m_pLoggers->find(name);
    if (found != m_pLoggers->end()) return found->second;

    const size_t length = std::strlen(name);
    char* key = new (std::nothrow) char[length + 1];
    CKrLogger* logger = key ? CKrLogger::MakeInited() : nullptr;
    krerrlog::LoggerMap* loggers = m_pLoggers;  // the lambda runs here, under the writer hold
    const bool kept = logger && krerrlog::NoThrowDone([&] {
        std::memcpy(key, name, length + 1);
        logger->SetLogName(name);
        loggers->emplace(key, logger);
    });
    if (!kept) {
        delete logger;
        delete[] key;
        return nullptr;
    }
    return logger;
}

bool CKrLoggerList::RemoveLogger(const char* name)
{
    CKrErrLogAutoWriter writer(&m_guard);
    if (!m_pLoggers) return true;
    if (!name) return false;
    const auto found = m_pLoggers->find(name);
    if (found == m_pLoggers->end()) return false;
    const char* key = found->first;
    CKrLogger* logger = found->second;
    m_pLoggers->erase(found);
    delete logger;  // its destructor releases it
    delete[] key;
    return true;
}

// Unchecked: the loggers' guards, taken in a loop, are unknown to the analysis.
void CKrLoggerList::HoldGuardsAcrossFork() KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
{
    // The registry's guard keeps the set of loggers still until after fork.
    m_guard.LockForWrite();
    if (!m_pLoggers) return;
    for (auto& entry : *m_pLoggers) entry.second->HoldGuardsAcrossFork();
}

void CKrLoggerList::ReleaseGuardsAfterFork(bool inChild) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS  // as HoldGuardsAcrossFork
{
    if (m_pLoggers) {
        for (auto entry = m_pLoggers->rbegin(); entry != m_pLoggers->rend(); ++entry) {
            entry->second->ReleaseGuardsAfterFork(inChild);
        }
    }
    inChild ? m_guard.ResetInChild() : m_guard.Unlock();
}

CKrLoggerList* theLoggerList()
{
    return krerrlog::ProcessWideInstance<CKrLoggerList>([]() -> CKrLoggerList* {
        auto* list = new (std::nothrow) CKrLoggerList;
        if (list && !list->m_guard.HasState()) {
            delete list;
            return nullptr;
        }
        if (list) {
            // Unchecked lambdas: the hold spans the fork handlers.
            krerrlog::RegisterForkSafeLock(
                krerrlog::kForkOrderLoggerRegistry, list,
                {[](void* l) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS {
                     static_cast<CKrLoggerList*>(l)->HoldGuardsAcrossFork();
                 },
                 [](void* l) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS {
                     static_cast<CKrLoggerList*>(l)->ReleaseGuardsAfterFork(false);
                 },
                 [](void* l) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS {
                     static_cast<CKrLoggerList*>(l)->ReleaseGuardsAfterFork(true);
                 }});
        }
        return list;
    });
}

CKrLogger* getMyLogger(const char* name)
{
    CKrLoggerList* list = theLoggerList();
    if (!list) return nullptr;
    if (CKrLogger* found = list->GetLogger(name)) return found;
    if (!name || !*name) return nullptr;
    return list->AddLogger(name);  // looks again under the write lock
}

bool removeMyLogger(const char* name)
{
    CKrLoggerList* list = theLoggerList();
    return list ? list->RemoveLogger(name) : false;
}
