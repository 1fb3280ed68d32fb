#include <krerrlog/output/internal/KrConsoleManager.h>

#include <krerrlog/support/platform/KrForkSafety.h>
#include <krerrlog/support/platform/KrPlatformFiles.h>

namespace krerrlog {

namespace {

// Allocating a console has no meaning here: a process has its standard output
// or it has none. These keep the acquire and release steps recognisable.
void AllocateConsole() {}
void FreeConsole() {}

int StandardOutputHandle()
{
    return StandardOutputIsOpen() ? kStandardOutput : CKrConsoleManager::kNoConsole;
}

}  // namespace

CKrConsoleManager& CKrConsoleManager::Instance()
{
    static CKrConsoleManager manager;
    return manager;
}

CKrConsoleManager::CKrConsoleManager() : m_iHolds(0), m_console(kNoConsole)
{
    RegisterForkSafeLock(kForkOrderConsole, m_section);
}
CKrConsoleManager::~CKrConsoleManager() = default;

int CKrConsoleManager::Acquire()
{
    MutexHold hold(m_section);
    if (m_iHolds == 0) {
        AllocateConsole();
        m_console = StandardOutputHandle();
    }
    if (m_console != kNoConsole) ++m_iHolds;
    return m_console;
}

void CKrConsoleManager::Release()
{
    MutexHold hold(m_section);
    if (m_iHolds <= 0) return;  // more releases than holds: nothing to give back
    if (--m_iHolds == 0) {
        FreeConsole();
        m_console = kNoConsole;
    }
}

int CKrConsoleManager::HoldCount()
{
    MutexHold hold(m_section);
    return m_iHolds;
}

}  // namespace krerrlog
