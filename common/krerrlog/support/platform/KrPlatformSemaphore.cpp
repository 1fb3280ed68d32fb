#include <krerrlog/support/platform/KrPlatformSemaphore.h>

#include <chrono>
#include <new>

namespace krerrlog {

PlatformSemaphore::PlatformSemaphore(long initialCount, long maximumCount)
    : m_count(initialCount), m_maximum(maximumCount)
{
}

int PlatformSemaphore::Wait(unsigned long milliseconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    auto available = [this] { return m_count > 0; };
    if (milliseconds == kInfinite) {
        m_signalled.wait(lock, available);
    } else if (!m_signalled.wait_for(lock, std::chrono::milliseconds(milliseconds), available)) {
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
