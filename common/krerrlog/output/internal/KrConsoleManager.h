// The process's one console, shared by every console output. On this platform
// the console is standard output: it can be held while descriptor 1 is valid.
#pragma once

#include <krerrlog/support/internal/KrMutex.h>

namespace krerrlog {

class CKrConsoleManager {
public:
    static constexpr int kNoConsole = -1;

    static CKrConsoleManager& Instance();
    virtual ~CKrConsoleManager();
    CKrConsoleManager(const CKrConsoleManager&) = delete;
    CKrConsoleManager& operator=(const CKrConsoleManager&) = delete;

    // One more hold of the console: its descriptor, or kNoConsole (no hold taken).
    int Acquire();
    // Gives one hold back; the last one lets the console go.
    void Release();
    // Number of holds (tests).
    int HoldCount();

private:
    CKrConsoleManager();

    Mutex m_section;
    int m_iHolds KRERRLOG_GUARDED_BY(m_section);
    int m_console KRERRLOG_GUARDED_BY(m_section);
};

}  // namespace krerrlog
