// The unwinder and the signal context, as the stack walker (KrStackWalker.h)
// needs them. Async-signal-safe once UnwindStack has run outside a crash (its
// one-time set-up and the binding of the calls it makes are done then).
#pragma once

#include <cstdint>

namespace krerrlog {

struct UnwoundFrame {
    uintptr_t pc;            // the return address, or the instruction itself when beforeInstruction
    uintptr_t cfa;           // the frame's canonical frame address (its place on the stack)
    bool beforeInstruction;  // pc is the instruction (a signal frame), not the one after a call
};

// Visits the frames of the calling thread from UnwindStack's caller outwards,
// across signal frames, while onFrame returns true and the stack goes on.
void UnwindStack(bool (*onFrame)(const UnwoundFrame& frame, void* context), void* context);

// The faulting instruction and the stack pointer of the context a signal
// handler gets as its third argument; 0 on processors not known here.
uintptr_t ContextInstruction(const void* ucontext);
uintptr_t ContextStackPointer(const void* ucontext);

}  // namespace krerrlog
