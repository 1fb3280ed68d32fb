// Critical sections of the library and their scoped holders. A critical section
// may be entered again by the thread that owns it, as the platform's own are.
#pragma once

#include <krerrlog/KrExport.h>
#include <krerrlog/KrThreadAnnotations.h>

#include <mutex>

// A critical section held by value.
class KRERRLOG_API KRERRLOG_CAPABILITY("mutex") CKrErrLogCriticalSection {
public:
    CKrErrLogCriticalSection();
    ~CKrErrLogCriticalSection();
    CKrErrLogCriticalSection(const CKrErrLogCriticalSection&) = delete;
    CKrErrLogCriticalSection& operator=(const CKrErrLogCriticalSection&) = delete;

    void Enter() KRERRLOG_ACQUIRE();
    void Leave() KRERRLOG_RELEASE();

private:
    std::recursive_mutex m_section;
};

// Holds a CKrErrLogCriticalSection for its own lifetime.
class KRERRLOG_API KRERRLOG_SCOPED_CAPABILITY CKrErrLogPrivAutoCS {
public:
    explicit CKrErrLogPrivAutoCS(CKrErrLogCriticalSection& section) KRERRLOG_ACQUIRE(section);
    ~CKrErrLogPrivAutoCS() KRERRLOG_RELEASE();
    CKrErrLogPrivAutoCS(const CKrErrLogPrivAutoCS&) = delete;
    CKrErrLogPrivAutoCS& operator=(const CKrErrLogPrivAutoCS&) = delete;

private:
    CKrErrLogCriticalSection& m_section;
};

// A critical section on the heap; Enter and Leave do nothing once it is gone.
class KRERRLOG_API KRERRLOG_CAPABILITY("mutex") CKrErrLogCS {
public:
    CKrErrLogCS();
    ~CKrErrLogCS();
    CKrErrLogCS(const CKrErrLogCS&) = delete;
    CKrErrLogCS& operator=(const CKrErrLogCS&) = delete;

    void Enter() KRERRLOG_ACQUIRE();
    void Leave() KRERRLOG_RELEASE();
    bool HasSection() const { return m_pSection != nullptr; }

private:
    std::recursive_mutex* m_pSection;
};

// Holds a CKrErrLogCS for its own lifetime (when it still has its section).
class KRERRLOG_API KRERRLOG_SCOPED_CAPABILITY CKrErrLogAutoCS {
public:
    explicit CKrErrLogAutoCS(CKrErrLogCS& section) KRERRLOG_ACQUIRE(section);
    ~CKrErrLogAutoCS() KRERRLOG_RELEASE();
    CKrErrLogAutoCS(const CKrErrLogAutoCS&) = delete;
    CKrErrLogAutoCS& operator=(const CKrErrLogAutoCS&) = delete;

private:
    CKrErrLogCS* m_pSection;
};
