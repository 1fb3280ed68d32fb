#include <krerrlog/logger/KrComponentLibrary.h>

#include <krerrlog/logger/CKrErrLogComponent.h>

#include <mutex>

namespace krerrlog {

namespace {
std::mutex& HolderLock()
{
    static std::mutex lock;
    return lock;
}
}  // namespace

void ComponentLibrary::Attach(CKrErrLogComponent* component, HMODULE handle)
{
    std::lock_guard<std::mutex> hold(HolderLock());
    if (component->m_pLibrary && component->m_pLibrary->handle == handle)
        ++component->m_pLibrary->loads;
    else
        component->m_pLibrary = new ComponentLibrary{handle, 1};
}

void ComponentLibrary::Detach(CKrErrLogComponent* component, bool freeLibrary)
{
    std::lock_guard<std::mutex> hold(HolderLock());
    ComponentLibrary* library = component->m_pLibrary;
    if (!library) return;
    const HMODULE handle = library->handle;
    if (--library->loads == 0) {
        // Unlink before the library, and the component object with it, may go.
        component->m_pLibrary = nullptr;
        delete library;
    }
    if (freeLibrary) KrFreeLibrary(handle);
}

}  // namespace krerrlog
