#include "testsupport/AllocationCounter.h"

#include <cstdlib>
#include <new>

// Every plain and nothrow form is replaced, so that each allocation and its
// release pair up under AddressSanitizer. GCC cannot see that malloc stands
// behind this operator new and warns when the pair is inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
thread_local long t_allocations = 0;
thread_local long t_failFrom = 0;  // the allocation number that fails first; 0: none
thread_local bool t_failAllAfter = false;
thread_local bool t_refused = false;

// Counts one allocation; false when it is the one (or one of those) to fail.
bool Admit() noexcept
{
    ++t_allocations;
    if (t_failFrom != 0 && (t_allocations == t_failFrom || (t_failAllAfter && t_allocations > t_failFrom))) {
        t_refused = true;
        return false;
    }
    return true;
}

void* Allocate(std::size_t size) noexcept { return Admit() ? std::malloc(size ? size : 1) : nullptr; }

void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept
{
    if (!Admit()) return nullptr;
    const std::size_t align = static_cast<std::size_t>(alignment);
    return std::aligned_alloc(align, (size + align - 1) / align * align);
}
}  // namespace

namespace krtest {
long AllocationsOnThisThread() { return t_allocations; }

FailingAllocations::FailingAllocations(long n, bool andAllAfter)
{
    t_refused = false;
    t_failAllAfter = andAllAfter;
    t_failFrom = t_allocations + n;
}
FailingAllocations::~FailingAllocations() { t_failFrom = 0; }
bool FailingAllocations::Refused() const { return t_refused; }
}  // namespace krtest

void* operator new(std::size_t size)
{
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

// The over-aligned forms (types with alignas beyond the default).
void* operator new(std::size_t size, std::align_val_t alignment)
{
    if (void* p = AllocateAligned(size, alignment)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment)
{
    if (void* p = AllocateAligned(size, alignment)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return AllocateAligned(size, alignment);
}
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
