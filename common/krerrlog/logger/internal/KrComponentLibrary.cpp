#include <krerrlog/logger/internal/KrComponentLibrary.h>

#include <krerrlog/logger/CKrErrLogComponent.h>
#include <krerrlog/support/platform/KrForkSafety.h>

#include <mutex>
#include <new>

namespace krerrlog {

namespace {
// Recursive: an entry point may itself make a logger (and so load components).
std::recursive_mutex& LoaderLock()
{
    static std::recursive_mutex lock;
    static const bool forkSafe = RegisterForkSafeLock(kForkOrderComponentLoader, lock);
    (void)forkSafe;
    return lock;
}
}  // namespace

CKrErrLogComponent* ComponentLibrary::Load(const char* baseName)
{
    std::lock_guard<std::recursive_mutex> hold(LoaderLock());
    HMODULE handle = KrLoadLibrary(baseName);
    if (!handle) return nullptr;
    auto entryPoint = reinterpret_cast<KrGetComponentPtrFunction>(KrGetProcAddress(handle, "GetComponentPtr"));
    CKrErrLogComponent* component = entryPoint ? entryPoint() : nullptr;
    if (!component) {
        KrFreeLibrary(handle);
        return nullptr;
    }
    if (component->m_pLibrary && component->m_pLibrary->handle == handle) {
        ++component->m_pLibrary->loads;
    } else {
        auto* library = new (std::nothrow) ComponentLibrary{handle, 1};
        if (!library) {  // without its holder it could not be unloaded: treated as missing
            KrFreeLibrary(handle);
            return nullptr;
        }
        component->m_pLibrary = library;
    }
    return component;
}

void ComponentLibrary::Detach(CKrErrLogComponent* component, bool freeLibrary)
{
    std::lock_guard<std::recursive_mutex> hold(LoaderLock());
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
