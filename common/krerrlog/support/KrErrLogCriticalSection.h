// Critical sections of the library and their scoped holders. A critical section
// may be entered again by the thread that owns it, as the platform's own are.
#pragma once

#include <krerrlog/KrExport.h>

#include <mutex>

// A critical section held by value.
class KRERRLOG_API CKrErrLogCriticalSection {
public:
    CKrErrLogCriticalSection();
    ~CKrErrLogCriticalSection();
    CKrErrLogCriticalSection(const CKrErrLogCriticalSection&) = delete;
    CKrErrLogCriticalSection& operator=(const CKrErrLogCriticalSection&) = delete;

    void Enter();
    void Leave();

private:
    std::recursive_mutex m_section;
};

// Holds a CKrErrLogCriticalSection for its own lifetime.
class KRERRLOG_API CKrErrLogPrivAutoCS {
public:
    explicit CKrErrLogPrivAutoCS(CKrErrLogCriticalSection& section);
    ~CKrErrLogPrivAutoCS();
    CKrErrLogPrivAutoCS(const CKrErrLogPrivAutoCS&) = delete;
    CKrErrLogPrivAutoCS& operator=(const CKrErrLogPrivAutoCS&) = delete;

private:
    CKrErrLogCriticalSection& m_section;
};

// A critical section on the heap; Enter and Leave do nothing once it is gone.
class KRERRLOG_API CKrErrLogCS {
public:
    CKrErrLogCS();
    ~CKrErrLogCS();
    CKrErrLogCS(const CKrErrLogCS&) = delete;
    CKrErrLogCS& operator=(const CKrErrLogCS&) = delete;

    void Enter();
    void Leave();
    bool HasSection() const { return m_pSection != nullptr; }

private:
    std::recursive_mutex* m_pSection;
};

// Holds a CKrErrLogCS for its own lifetime (when it still has its section).
class KRERRLOG_API CKrErrLogAutoCS {
public:
    explicit CKrErrLogAutoCS(CKrErrLogCS& section);
    ~CKrErrLogAutoCS();
    CKrErrLogAutoCS(const CKrErrLogAutoCS&) = delete;
    CKrErrLogAutoCS& operator=(const CKrErrLogAutoCS&) = delete;

private:
    CKrErrLogCS* m_pSection;
};
