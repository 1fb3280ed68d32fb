// A process-wide object in static storage: made on first use without
// allocating, never destroyed (threads may still use it while static objects
// are torn down). Hold it in a function-local static.
#pragma once

#include <new>
#include <utility>

namespace krerrlog {

template <typename T>
class NeverDestroyed {
public:
    template <typename... Args>
    explicit NeverDestroyed(Args&&... args)
    {
        new (m_storage) T(std::forward<Args>(args)...);
    }
    NeverDestroyed(const NeverDestroyed&) = delete;
    NeverDestroyed& operator=(const NeverDestroyed&) = delete;

    T& Get() { return *std::launder(reinterpret_cast<T*>(m_storage)); }

private:
    alignas(T) unsigned char m_storage[sizeof(T)];
};

}  // namespace krerrlog
