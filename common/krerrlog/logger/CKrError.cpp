#include <krerrlog/logger/CKrError.h>

#include <krerrlog/logger/CKrLogger.h>

#include <new>

CKrError::CKrError(const CKrError& other) : m_pFirst(nullptr), m_pLast(nullptr) { TakeOver(other); }

CKrError& CKrError::operator=(const CKrError& other)
{
    if (this != &other) {
        Clear();
        TakeOver(other);
    }
    return *this;
}

CKrError::~CKrError() { Clear(); }

void CKrError::TakeOver(const CKrError& other)
{
    m_pFirst = other.m_pFirst;
    m_pLast = other.m_pLast;
    other.m_pFirst = nullptr;
    other.m_pLast = nullptr;
}

CKrErrData* CKrError::NewErrData() { return new (std::nothrow) CKrErrData(); }

void CKrError::Clear()
{
    CKrErrData* record = m_pFirst;
    m_pFirst = nullptr;
    m_pLast = nullptr;
    while (record) {
        CKrErrData* next = record->GetNext();
        delete record;
        record = next;
    }
}

void CKrError::AddError(CKrErrData* record)
{
    if (!record || record->m_bInList) return;
    record->m_bInList = true;
    record->SetNext(nullptr);
    if (m_pLast) {
        m_pLast->SetNext(record);
    } else {
        m_pFirst = record;
    }
    m_pLast = record;
}

void CKrError::SetError(CKrErrData* record)
{
    // One walk, which deletes the records anyway: a record this list holds
    // survives it and is linked again as the only one.
    CKrErrData* held = m_pFirst;
    m_pFirst = nullptr;
    m_pLast = nullptr;
    while (held) {
        CKrErrData* next = held->GetNext();
        if (held == record) {
            record->m_bInList = false;
        } else {
            delete held;
        }
        held = next;
    }
    AddError(record);
}

bool CKrError::LogMessages()
{
    bool allAccepted = true;
    for (CKrErrData* record = m_pFirst; record; record = record->GetNext()) {
        if (record->IsLogged()) continue;
        CKrLogger* logger = theLogger();
        if (!logger || !logger->LogErrMsg(*record->GetMessage())) allAccepted = false;
        record->SetLogged(true);
    }
    return allAccepted;
}

bool CKrError::LogLastMessage()
{
    if (m_pLast) {
        if (CKrLogger* logger = theLogger()) logger->LogErrMsg(*m_pLast->GetMessage());
    }
    for (CKrErrData* record = m_pFirst; record; record = record->GetNext()) record->SetLogged(true);
    return true;
}

unsigned int CKrError::GetLastError() { return m_pLast ? m_pLast->GetErrorCode() : 0; }
