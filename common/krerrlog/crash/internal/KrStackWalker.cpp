#include <krerrlog/crash/internal/KrStackWalker.h>

#include <krerrlog/crash/internal/KrCrashText.h>
#include <krerrlog/support/platform/KrPlatformFiles.h>
#include <krerrlog/support/platform/crash/KrPlatformUnwind.h>

namespace krerrlog {

namespace {

constexpr size_t kLongestName = 1024;
// The same frame (address and stack position) this many times over is a loop
// in damaged unwind data, not a stack.
constexpr int kMostRepeats = 1000;
// Frames of the handler itself before the faulting one; more means the
// faulting frame was not found.
constexpr int kMostHandlerFrames = 64;

}  // namespace

struct StackWalker::Walk {
    StackWalker* walker;
    CrashText* out;
    uintptr_t faultPc;     // 0: list from the first frame on
    int framesToSkip;      // with faultPc 0: frames of the walker itself
    bool started;
    bool full;
    bool anySymbol;
    int frames;
    int repeats;
    uintptr_t lastPc;
    uintptr_t lastCfa;
};

struct StackWalkerCallbacks {
    static bool OnFrame(const UnwoundFrame& frame, void* argument)
    {
        StackWalker::Walk& walk = *static_cast<StackWalker::Walk*>(argument);
        const uintptr_t pc = frame.pc;
        const uintptr_t cfa = frame.cfa;
        if (++walk.frames > StackWalker::kMostFrames) return false;
        if (!walk.started) {
            if (walk.faultPc != 0 ? pc == walk.faultPc : walk.frames > walk.framesToSkip) {
                walk.started = true;
            } else {
                return walk.frames <= kMostHandlerFrames;
            }
        }
        if (pc == 0) return false;
        if (pc == walk.lastPc && cfa == walk.lastCfa) {
            if (++walk.repeats > kMostRepeats) return false;
        } else {
            walk.repeats = 0;
        }
        walk.lastPc = pc;
        walk.lastCfa = cfa;
        // A return address points behind its call, possibly past the end of
        // a function that does not return: look up the call itself.
        walk.walker->AddFrame(walk, frame.beforeInstruction ? pc : pc - 1);
        return !walk.full;
    }

    static bool Ignore(const UnwoundFrame&, void*) { return true; }
};

bool StackWalker::Prepare()
{
    if (m_bPrepared) return true;
    if (!m_maps.Prepare() || !m_symbols.Prepare()) return false;
    // One walk and one look-up now: the unwinder's set-up, the binding of
    // every call on the path and the page-in of the code happen here.
    UnwindStack(&StackWalkerCallbacks::Ignore, nullptr);
    m_bPrepared = true;
    char buffer[512];
    CrashText warmUp(buffer, sizeof buffer);
    ListHere(warmUp);
    return true;
}

void StackWalker::Start(Walk& walk)
{
    walk.started = false;
    walk.full = false;
    walk.anySymbol = false;
    walk.frames = 0;
    walk.repeats = 0;
    walk.lastPc = 0;
    walk.lastCfa = 0;
    m_maps.Read();
    UnwindStack(&StackWalkerCallbacks::OnFrame, &walk);
    m_symbols.CloseAll();
}

void StackWalker::AddFrame(Walk& walk, uintptr_t address)
{
    char name[kLongestName];
    char line[kLongestName + kLongestPath + 64];
    CrashText piece(line, sizeof line);
    const MappedRange* range = m_maps.Find(address);
    if (!range) return;  // no image: nothing to name the frame by
    const char* path = m_maps.Path(*range);
    FoundSymbol symbol{};
    if (range->executable && m_symbols.Find(path, *range, address, name, sizeof name, symbol)) {
        if (walk.anySymbol) piece.Append("\n");
        piece.Append(name);
        piece.Append("()-[0x");
        piece.AppendHex(symbol.start);
        piece.Append("] - ");
        walk.anySymbol = true;
    }
    piece.Append(path);
    if (!walk.out->Append(piece)) walk.full = true;
}

void StackWalker::List(const void* ucontext, CrashText& out)
{
    // Without its tables or the memory map there is nothing to name frames by.
    if (!m_bPrepared || !ucontext || !m_maps.Read()) {
        out.Append(kNoListing);
        return;
    }
    Walk walk{};
    walk.walker = this;
    walk.out = &out;
    walk.faultPc = ContextInstruction(ucontext);
    Start(walk);
    if (walk.started || walk.full) return;
    // The unwinder never reached the faulting frame: a jump to an address
    // with no code (a call through a null pointer). The caller's return
    // address is then on top of the stack.
    m_maps.Read();
    AddFrame(walk, walk.faultPc);
    const uintptr_t sp = ContextStackPointer(ucontext);
    if (!walk.full && sp != 0 && m_maps.Readable(sp, sizeof(uintptr_t))) {
        const uintptr_t returnAddress = *reinterpret_cast<const uintptr_t*>(sp);
        const MappedRange* range = m_maps.Find(returnAddress);
        if (range && range->executable) AddFrame(walk, returnAddress - 1);
    }
    m_symbols.CloseAll();
}

void StackWalker::ListHere(CrashText& out)
{
    if (!m_bPrepared) return;
    Walk walk{};
    walk.walker = this;
    walk.out = &out;
    walk.framesToSkip = 3;  // ListHere, Start and UnwindStack
    Start(walk);
}

}  // namespace krerrlog
