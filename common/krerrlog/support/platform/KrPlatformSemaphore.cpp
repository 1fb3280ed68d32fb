#include <krerrlog/support/platform/KrPlatformSemaphore.h>

#include <chrono>
#include <new>

namespace krerrlog {

PlatformSemaphore::PlatformSemaphore(long initialCount, long maximumCount)
    : m_count(initialCount), m_maximum(maximumCount)
{
}

namespace {

using Clock = std::chrono::steady_clock;

// The deadline milliseconds from now, or false when the clock cannot count
// that far (then the wait has no limit). Compared before anything is
// converted, so no value of any width overflows the clock's arithmetic.
bool DeadlineWithinClock(unsigned long milliseconds, Clock::time_point& deadline)
{
    if (milliseconds == PlatformSemaphore::kInfinite) return false;
    const Clock::time_point now = Clock::now();
    const auto headroom = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now);
    if (headroom.count() <= 0 || milliseconds >= static_cast<unsigned long long>(headroom.count())) return false;
    deadline = now + std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(milliseconds));
    return true;
}

}  // namespace

int PlatformSemaphore::Wait(unsigned long milliseconds)
{
    Clock::time_point deadline;
    const bool limited = DeadlineWithinClock(milliseconds, deadline);
    std::unique_lock<std::mutex> lock(m_mutex);
    auto available = [this] { return m_count > 0; };
    if (!limited) {
        m_signalled.wait(lock, available);
    } else if (!m_signalled.wait_until(lock, deadline, available)) {
        return 1;
    }
    --m_count;
    return 0;
}

bool PlatformSemaphore::Release(long count)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (count <= 0 || count > m_maximum - m_count) return false;
        m_count += count;
    }
    if (count == 1) {
        m_signalled.notify_one();
    } else {
        m_signalled.notify_all();
    }
    return true;
}

long PlatformSemaphore::Count()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

void PlatformSemaphore::ResetInChild()
{
    new (&m_mutex) std::mutex;
    new (&m_signalled) std::condition_variable;
    m_count = 0;
}

}  // namespace krerrlog
