// The process-wide instance of a library object (the logger, the registry of
// named loggers): made by the first call on any thread, never destroyed, and
// handed out as null once static destruction has begun, since other static
// destructors and ending threads may still call in.
#pragma once

#include <atomic>

namespace krerrlog {

// make runs once, on the first call; it returns the new object (or null).
template <typename T, typename Make>
T* ProcessWideInstance(Make make)
{
    static std::atomic<T*> instance{nullptr};
    // Never cleared: the object stays reachable (for leak checkers too) after
    // exit has cleared the pointer handed out.
    [[maybe_unused]] static T* volatile keptAlive = nullptr;
    struct ExitClearer {
        ~ExitClearer() { instance.store(nullptr, std::memory_order_release); }
    };
    static const bool made = [&make] {
        T* object = make();
        keptAlive = object;
        instance.store(object, std::memory_order_release);
        static ExitClearer clearer;  // destroyed before instance: made after it
        return true;
    }();
    (void)made;
    return instance.load(std::memory_order_acquire);
}

}  // namespace krerrlog
