// ClearForLateCallers: the null store of a destructor that later calls rely on.
#pragma once

namespace krerrlog {

// A destroyed CKrErrLogCS or CKrErrLogGuard must hold a null pointer, so that a
// late Enter/Leave, or a holder that outlives its guard at exit, does nothing.
// To the compiler a store into an object whose lifetime is ending is dead, and
// GCC removes it at -O2 (lifetime dead-store elimination), leaving the freed
// pointer behind. A volatile store is never removed, in any build type.
template <class T>
inline void ClearForLateCallers(T*& pointer) noexcept
{
    T* volatile* kept = &pointer;
    *kept = nullptr;
}

}  // namespace krerrlog
