// Keeps the calling thread's error codes across library work. The platform's
// "last error" and "socket error" are both errno here, so one saved value
// restores both.
#pragma once

#include <cerrno>

namespace krerrlog {

class SavedErrorCodes {
public:
    SavedErrorCodes() : m_error(errno) {}
    ~SavedErrorCodes() { errno = m_error; }
    SavedErrorCodes(const SavedErrorCodes&) = delete;
    SavedErrorCodes& operator=(const SavedErrorCodes&) = delete;

private:
    int m_error;
};

}  // namespace krerrlog
