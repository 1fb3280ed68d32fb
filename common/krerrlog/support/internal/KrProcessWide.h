// The process-wide instance of a library object (the logger, the registry of
// named loggers): made by the first call on any thread that succeeds, never
// destroyed, and handed out as null once static destruction has begun, since
// other static destructors and ending threads may still call in.
#pragma once

#include <atomic>
#include <mutex>

namespace krerrlog {

// Where one process-wide object is kept: one instance of these per T and Make.
template <typename T, typename Make>
struct ProcessWideSlot {
    // Published with release, read with acquire; exitBegun likewise, so a
    // thread past exit's start never hands out the object again.
    static inline std::atomic<T*> instance{nullptr};
    static inline std::atomic<bool> exitBegun{false};
};

// The first call's part, apart from the look at an object already made so
// that this look saves no registers.
template <typename T, typename Make>
__attribute__((noinline)) T* MakeProcessWideInstance(Make make)
{
    using Slot = ProcessWideSlot<T, Make>;
    // Never cleared: the object stays reachable (for leak checkers too) after
    // exit has cleared the pointer handed out.
    [[maybe_unused]] static T* volatile keptAlive = nullptr;
    struct ExitClearer {
        ~ExitClearer()
        {
            Slot::exitBegun.store(true, std::memory_order_release);
            Slot::instance.store(nullptr, std::memory_order_release);
        }
    };
    if (Slot::exitBegun.load(std::memory_order_acquire)) return nullptr;

    static std::mutex making;  // constant-initialised: takes no memory of its own
    std::lock_guard<std::mutex> hold(making);
    if (T* object = Slot::instance.load(std::memory_order_acquire)) return object;
    if (Slot::exitBegun.load(std::memory_order_acquire)) return nullptr;
    T* object = make();
    if (!object) return nullptr;
    keptAlive = object;
    static ExitClearer clearer;  // destroyed before the statics above: made after them
    Slot::instance.store(object, std::memory_order_release);
    return object;
}

// make returns the new object, or null when it could not be made (memory ran
// out); null is handed out and the next call tries again.
template <typename T, typename Make>
T* ProcessWideInstance(Make make)
{
    // Acquire: a thread that sees the pointer sees the object made before it was stored.
    if (T* object = ProcessWideSlot<T, Make>::instance.load(std::memory_order_acquire)) return object;
    return MakeProcessWideInstance<T>(make);
}

}  // namespace krerrlog
