// Lock objects used after their destructor ran: a late Enter/Leave, lock call or
// holder (objects destroyed at exit in the wrong order) must do nothing. Each case
// runs in a child process, since the fault shows as a crash or an exception.
#include <krerrlog/support/KrErrLogCriticalSection.h>
#include <krerrlog/support/KrErrLogGuard.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include <unistd.h>

namespace {

enum Outcome { kNothingDone = 0, kPointerLeftBehind = 2 };
// A late call on a freed mutex may block forever: the child then dies of SIGALRM.
constexpr unsigned kChildWatchdogSeconds = 20;

// Storage for one object whose bytes stay readable after its lifetime ends.
template <class T>
struct Storage {
    alignas(T) unsigned char bytes[sizeof(T)];

    T* Make()
    {
        std::memset(bytes, 0xA5, sizeof bytes);
        return new (bytes) T;
    }
    // The objects hold one pointer; destroyed, it must read null.
    bool Cleared() const
    {
        const volatile unsigned char* b = bytes;
        for (size_t i = 0; i < sizeof bytes; ++i)
            if (b[i] != 0) return false;
        return true;
    }
};

// Hands the blocks just freed to new owners who fill them with garbage, so that a
// call through a stale pointer meets a broken mutex instead of a lucky leftover.
class FreedBlocksReused {
public:
    FreedBlocksReused()
    {
        for (size_t size : {sizeof(std::recursive_mutex), sizeof(CKrGuard)}) {
            for (int i = 0; i < 8; ++i) {
                m_blocks.push_back(std::malloc(size));
                std::memset(m_blocks.back(), 0xFF, size);
            }
        }
    }
    ~FreedBlocksReused()
    {
        for (void* block : m_blocks) std::free(block);
    }

private:
    std::vector<void*> m_blocks;
};

int LateCallsOnDestroyedSection()
{
    alarm(kChildWatchdogSeconds);
    Storage<CKrErrLogCS> storage;
    CKrErrLogCS* section = storage.Make();
    section->Enter();
    section->Leave();
    section->~CKrErrLogCS();
    if (!storage.Cleared()) return kPointerLeftBehind;
    FreedBlocksReused reuse;
    section->Enter();
    section->Leave();
    { CKrErrLogAutoCS holder(*section); }
    return section->HasSection() ? kPointerLeftBehind : kNothingDone;
}

int HoldersOutliveTheirGuard()
{
    alarm(kChildWatchdogSeconds);
    Storage<CKrErrLogGuard> storage;
    CKrErrLogGuard* guard = storage.Make();
    std::optional<CKrErrLogAutoReader> reader(guard);
    guard->~CKrErrLogGuard();
    if (!storage.Cleared()) return kPointerLeftBehind;
    FreedBlocksReused reuse;
    reader.reset();  // its guard is gone: no Unlock
    guard->LockForWrite();
    guard->Unlock();
    guard->LockForRead();
    { CKrErrLogAutoWriter writer(guard); }
    return guard->HasState() ? kPointerLeftBehind : kNothingDone;
}

TEST(DestroyedLocks, LateCallsAndHoldersDoNothing)
{
    EXPECT_EXIT(std::exit(LateCallsOnDestroyedSection()), ::testing::ExitedWithCode(kNothingDone), "")
        << "CKrErrLogCS";
    EXPECT_EXIT(std::exit(HoldersOutliveTheirGuard()), ::testing::ExitedWithCode(kNothingDone), "")
        << "CKrErrLogGuard";
}

}  // namespace
