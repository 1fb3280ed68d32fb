// Named loggers: besides theLogger(), a process may keep further loggers, each
// a complete CKrLogger with its own outputs, components and trace set-up,
// registered under a (case-sensitive) name. getMyLogger and removeMyLogger
// are the usual way in.
#pragma once

#include <krerrlog/KrExport.h>
#include <krerrlog/KrThreadAnnotations.h>
#include <krerrlog/support/KrErrLogGuard.h>

class CKrLogger;

namespace krerrlog {
struct LoggerMap;  // name copies ordered byte-wise, to their loggers
}

class KRERRLOG_API CKrLoggerList {
public:
    CKrLoggerList();
    // Deletes every registered logger, in name order.
    virtual ~CKrLoggerList();
    CKrLoggerList(const CKrLoggerList&) = delete;
    CKrLoggerList& operator=(const CKrLoggerList&) = delete;

    // The logger registered under name, or null.
    CKrLogger* GetLogger(const char* name);
    // The logger registered under name, made (and initialised) when there is
    // none yet. Null for a null or empty name, or when memory is short.
    CKrLogger* AddLogger(const char* name);
    // Releases and deletes the logger registered under name. False when the
    // name is not registered; true when no logger was ever added.
    bool RemoveLogger(const char* name);

    // Across fork: the registry's guard, then every registered logger's
    // guards, held in that order; given back (parent) or left free (child).
    KRERRLOG_LOCAL void HoldGuardsAcrossFork() KRERRLOG_ACQUIRE(m_guard);
    KRERRLOG_LOCAL void ReleaseGuardsAfterFork(bool inChild) KRERRLOG_RELEASE(m_guard);

private:
    friend CKrLoggerList* theLoggerList();  // keeps no registry without its guard

    krerrlog::LoggerMap* m_pLoggers KRERRLOG_GUARDED_BY(m_guard) KRERRLOG_PT_GUARDED_BY(m_guard);
    // Taken before any registered logger's guards: a logger is made, released
    // and held across fork under it. The analysis cannot name the guards of
    // loggers held in the map, so that part of the order is stated here only.
    CKrErrLogGuard m_guard;
};

// The process-wide registry; null once the process has begun to exit (the
// registry and its loggers are never destroyed), and while there is no memory
// to make it.
KRERRLOG_API CKrLoggerList* theLoggerList();
// The logger of that name, made on first use; null for a null or empty name.
KRERRLOG_API CKrLogger* getMyLogger(const char* name);
// Removes (releases and deletes) the logger of that name; see RemoveLogger.
KRERRLOG_API bool removeMyLogger(const char* name);
