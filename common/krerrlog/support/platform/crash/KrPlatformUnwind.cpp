// Frames from the C++ runtime's unwinder (_Unwind_Backtrace), which reads the
// images' unwind tables; with this C library it finds the tables of an address
// through _dl_find_object, which takes no lock and allocates nothing.
#include <krerrlog/support/platform/crash/KrPlatformUnwind.h>

#include <ucontext.h>
#include <unwind.h>

namespace krerrlog {

namespace {

struct Visit {
    bool (*onFrame)(const UnwoundFrame&, void*);
    void* context;
};

_Unwind_Reason_Code OnFrame(_Unwind_Context* unwinding, void* argument)
{
    const Visit& visit = *static_cast<const Visit*>(argument);
    int beforeInstruction = 0;
    UnwoundFrame frame{};
    frame.pc = _Unwind_GetIPInfo(unwinding, &beforeInstruction);
    frame.cfa = _Unwind_GetCFA(unwinding);
    frame.beforeInstruction = beforeInstruction != 0;
    return visit.onFrame(frame, visit.context) ? _URC_NO_REASON : _URC_END_OF_STACK;
}

}  // namespace

// Not inlined: the walker counts this frame among its own.
__attribute__((noinline)) void UnwindStack(bool (*onFrame)(const UnwoundFrame&, void*), void* context)
{
    Visit visit{onFrame, context};
    _Unwind_Backtrace(&OnFrame, &visit);
}

uintptr_t ContextInstruction(const void* ucontext)
{
    const auto* context = static_cast<const ucontext_t*>(ucontext);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(context->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(context->uc_mcontext.pc);
#else
    (void)context;
    return 0;
#endif
}

uintptr_t ContextStackPointer(const void* ucontext)
{
    const auto* context = static_cast<const ucontext_t*>(ucontext);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(context->uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(context->uc_mcontext.sp);
#else
    (void)context;
    return 0;
#endif
}

}  // namespace krerrlog
