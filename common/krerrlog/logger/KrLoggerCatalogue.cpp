// Component slots and the tables of known components and data fields.
#include <krerrlog/logger/CKrLogger.h>

void CKrLogger::SetUpComponents()
{
    // Slots exist from Init on; the components that fill them come with the catalogue.
    m_iComponentCount = 26;
    m_pComponents = new CKrErrLogComponent*[26]();
}

void CKrLogger::UnloadComponents()
{
    if (m_iComponentCount != 0 && !m_bUnloadedComponents.exchange(true)) {
        m_iComponentCount = 0;
    }
    delete[] m_pComponents;
    m_pComponents = nullptr;
}

void CKrLogger::ReleaseKnownInfo()
{
    m_availableDataFields.clear();
    m_availableComponents.clear();
}
