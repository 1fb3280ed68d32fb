// What the library does when memory runs out, stated once for all of it.
//
// The library never throws and never ends the process because an allocation
// failed. An operation that cannot get the memory it needs fails with its
// documented result (false, null, a message text cut short, a line not
// written) and leaves what it was changing as it was before the call, or in
// the state its failure result documents, with nothing half-made and nothing
// leaked. In particular:
//   - a logger that cannot be set up is not handed out: theLogger() and
//     getMyLogger() return null, and a later call tries again;
//   - NewLogOutput returns null; SetLogOutput and the other attaching calls
//     return false and leave the output the caller's, as for a failed Open;
//   - a message record without memory for its text holds what fitted (at
//     worst nothing); its Format calls still return, LogErrMsg logs what the
//     record holds;
//   - a guard or critical section whose state cannot be made holds none; the
//     logger (and the registry) is not made over such a guard;
//   - a translation bundle that cannot be read reads as missing (the fixed
//     fallback texts), an environment variable that cannot be copied as unset.
//
// How the code keeps it:
//   - Objects, arrays and text blocks are made with the non-throwing operator
//     new (`new (std::nothrow) T`, `new (std::nothrow) char[n]`) and the result
//     is tested before use. Only blocks that must start zeroed (the in-memory
//     trace area, whose untouched pages then cost nothing; long trace texts)
//     come from calloc, tested the same way. Process-wide objects live in
//     static storage (KrNeverDestroyed.h) and allocate nothing to exist.
//   - Standard strings and containers throw std::bad_alloc. Code that uses
//     them runs inside NoThrow below, the one place where the library catches:
//     it catches std::bad_alloc only and turns it into the operation's failure
//     result. Such code builds its result on the side and commits it with
//     moves and swaps that cannot fail, so that a failure leaves no trace.
//   - Constructors cannot report failure: those that need memory keep a null
//     member and the object's operations fail (or do nothing) while it is null.
#pragma once

#include <new>

namespace krerrlog {

// Runs work() and returns what it returns; failed when the standard library
// ran out of memory on the way.
template <typename Result, typename Work>
Result NoThrow(Result failed, Work&& work) noexcept
{
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return failed;
    }
}

// The same for work that returns nothing; false when memory ran out.
template <typename Work>
bool NoThrowDone(Work&& work) noexcept
{
    try {
        work();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace krerrlog
