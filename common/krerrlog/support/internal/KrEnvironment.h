// Environment, locale and number text services.
#pragma once

#include <string>

// Reads one environment variable when constructed.
class CKrGetEnv {
public:
    explicit CKrGetEnv(const char* name);
    ~CKrGetEnv();
    CKrGetEnv(const CKrGetEnv&) = delete;
    CKrGetEnv& operator=(const CKrGetEnv&) = delete;

    // The value, or null when the variable is not set.
    const char* c_str() const { return m_bSet ? m_value.c_str() : nullptr; }

private:
    std::string m_value;
    bool m_bSet;
};

// The locale in which error messages are shown: the process's message locale
// (LC_ALL, then LC_MESSAGES, then LANG, without encoding or modifier, e.g.
// "de_DE"), or "en" when none is set or it is "C"/"POSIX".
const char* KrGetAdminLocale();

// Writes the decimal digits of value and a NUL (at most 21 bytes).
void number2string(unsigned long long value, char* out);

namespace krerrlog {
// Fixes the locale KrGetAdminLocale reports (null: read the environment again).
void SetAdminLocale(const char* locale);
}  // namespace krerrlog
