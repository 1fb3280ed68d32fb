// The stack listing of a crashed thread, made inside the signal handler.
//
// Frames come from the platform's unwinder (KrPlatformUnwind.h). It is run
// once when the handler is installed, so that its one-time set-up (and the
// lazy binding of the calls it makes) is done by then. The walk starts
// in the handler, crosses the signal frame and keeps the frames from the
// faulting instruction on. Symbols are read from the image files themselves
// (KrElfSymbols.h), image paths from the process's memory map
// (KrProcessMaps.h), all into buffers allocated by Prepare.
//
// Listing format: one line per frame with a symbol,
//   <name>()-[0x<START>] - <image path>
// (START in upper-case hexadecimal), lines joined by one newline and no
// newline at the end; a frame without a symbol adds only its image path right
// behind the text before it. The listing stops at a frame boundary when the
// buffer is full.
#pragma once

#include <krerrlog/support/platform/crash/KrElfSymbols.h>
#include <krerrlog/support/platform/crash/KrProcessMaps.h>

#include <cstddef>
#include <cstdint>

namespace krerrlog {

class CrashText;

class StackWalker {
public:
    // Allocates the tables and runs every part once (not at a crash).
    bool Prepare();

    // Appends the listing of the thread interrupted at ucontext (the third
    // argument of a signal handler) to out; kNoListing when the walker is not
    // prepared or the memory map cannot be read. Async-signal-safe.
    void List(const void* ucontext, CrashText& out);

    // Appends the listing of the calling thread from its caller on (used to
    // warm the walker up, and by tests).
    void ListHere(CrashText& out);

    static constexpr char kNoListing[] = "noValue";

    // Largest number of frames visited, whatever they add to the listing.
    static constexpr int kMostFrames = 10000;

private:
    struct Walk;
    void Start(Walk& walk);
    void AddFrame(Walk& walk, uintptr_t address);
    friend struct StackWalkerCallbacks;

    ProcessMaps m_maps;
    ElfSymbols m_symbols;
    bool m_bPrepared = false;
};

}  // namespace krerrlog
