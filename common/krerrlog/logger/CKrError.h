// Error records: a caller that meets several errors while it works collects
// them (one CKrErrData each, its message filled by the caller) in a CKrError,
// and later logs the ones not yet logged, or only the last, to the error log
// of the process-wide logger. A CKrError owns its records and belongs to one
// thread at a time.
#pragma once

#include <krerrlog/KrExport.h>
#include <krerrlog/message/CKrErrLogMessage.h>

class KRERRLOG_API CKrErrData {
public:
    CKrErrData() : m_pNext(nullptr), m_errorCode(0), m_bLogged(false), m_bInList(false) {}
    // Does not touch the records that follow it.
    virtual ~CKrErrData() { m_pNext = nullptr; }
    CKrErrData(const CKrErrData&) = delete;
    CKrErrData& operator=(const CKrErrData&) = delete;

    unsigned int GetErrorCode() const { return m_errorCode; }
    // The library never sets the code: the caller does, for GetLastError.
    void SetErrorCode(unsigned int code) { m_errorCode = code; }
    bool IsLogged() const { return m_bLogged; }
    void SetLogged(bool logged) { m_bLogged = logged; }
    CKrErrData* GetNext() const { return m_pNext; }
    void SetNext(CKrErrData* next) { m_pNext = next; }
    CKrErrLogMessage* GetMessage() { return &m_message; }

private:
    friend class CKrError;

    CKrErrData* m_pNext;
    unsigned int m_errorCode;
    bool m_bLogged;
    // Linked into a CKrError: adding it again (to that list or another) would
    // cut a list behind it, so that is refused without walking any list.
    bool m_bInList;
    CKrErrLogMessage m_message;
};

class KRERRLOG_API CKrError {
public:
    CKrError() : m_pFirst(nullptr), m_pLast(nullptr) {}
    // Takes over other's records and leaves other empty (other changes in
    // spite of the const: the records have one owner).
    CKrError(const CKrError& other);
    // Deletes this list's records, then takes over other's as above.
    CKrError& operator=(const CKrError& other);
    virtual ~CKrError();

    // A fresh record (code 0, not logged, empty message) for the caller to
    // fill and hand to AddError or SetError; null when memory is short.
    static CKrErrData* NewErrData();

    void Clear();
    // Appends record in constant time; the list owns it from now on. A null
    // record, or one that this or another list holds already, is ignored.
    void AddError(CKrErrData* record);
    // Deletes every record (but record itself), then holds record alone. A
    // record that another list holds stays there; this list is then empty.
    void SetError(CKrErrData* record);

    // Logs every record not logged yet, first to last, and marks each logged
    // whatever the result. True when every such line was accepted (also when
    // there was nothing to log); a failure does not stop the walk.
    bool LogMessages();
    // Logs the last record only and marks every record logged. Always true.
    bool LogLastMessage();
    // The last record's code, 0 when the list is empty.
    unsigned int GetLastError();

private:
    void TakeOver(const CKrError& other);

    mutable CKrErrData* m_pFirst;
    mutable CKrErrData* m_pLast;
};
