// A plain mutex the lock annotations know (std::mutex carries none in this
// standard library), and its scoped hold. The same size and behaviour as the
// std::mutex inside; std::unique_lock and the fork registration take it as
// they take a std::mutex.
#pragma once

#include <krerrlog/KrThreadAnnotations.h>

#include <mutex>

namespace krerrlog {

class KRERRLOG_CAPABILITY("mutex") Mutex {
public:
    constexpr Mutex() noexcept = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() KRERRLOG_ACQUIRE() { m_mutex.lock(); }
    void unlock() KRERRLOG_RELEASE() { m_mutex.unlock(); }
    bool try_lock() KRERRLOG_TRY_ACQUIRE(true) { return m_mutex.try_lock(); }
    // For a std::condition_variable wait by a caller that holds this mutex.
    std::mutex& Native() KRERRLOG_RETURN_CAPABILITY(this) { return m_mutex; }

private:
    std::mutex m_mutex;
};

class KRERRLOG_SCOPED_CAPABILITY MutexHold {
public:
    explicit MutexHold(Mutex& mutex) KRERRLOG_ACQUIRE(mutex) : m_mutex(mutex) { m_mutex.lock(); }
    ~MutexHold() KRERRLOG_RELEASE() { m_mutex.unlock(); }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

private:
    Mutex& m_mutex;
};

}  // namespace krerrlog
