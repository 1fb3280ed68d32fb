#include <krerrlog/support/KrErrLogCriticalSection.h>

#include <krerrlog/support/internal/KrClearedOnDestruction.h>
#include <new>

CKrErrLogCriticalSection::CKrErrLogCriticalSection() = default;
CKrErrLogCriticalSection::~CKrErrLogCriticalSection() = default;
void CKrErrLogCriticalSection::Enter() { m_section.lock(); }
void CKrErrLogCriticalSection::Leave() { m_section.unlock(); }

CKrErrLogPrivAutoCS::CKrErrLogPrivAutoCS(CKrErrLogCriticalSection& section) : m_section(section)
{
    m_section.Enter();
}
CKrErrLogPrivAutoCS::~CKrErrLogPrivAutoCS() { m_section.Leave(); }

CKrErrLogCS::CKrErrLogCS() : m_pSection(new (std::nothrow) std::recursive_mutex) {}  // none without memory
CKrErrLogCS::~CKrErrLogCS()
{
    delete m_pSection;
    krerrlog::ClearForLateCallers(m_pSection);
}
void CKrErrLogCS::Enter()
{
    if (m_pSection) m_pSection->lock();
}
void CKrErrLogCS::Leave()
{
    if (m_pSection) m_pSection->unlock();
}

CKrErrLogAutoCS::CKrErrLogAutoCS(CKrErrLogCS& section) : m_pSection(&section)
{
    if (m_pSection->HasSection()) m_pSection->Enter();
}
CKrErrLogAutoCS::~CKrErrLogAutoCS()
{
    if (m_pSection->HasSection()) m_pSection->Leave();
}
