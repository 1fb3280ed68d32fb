// The registry of fork-safe locks and the pthread_atfork handlers that walk it.
#include <krerrlog/support/platform/KrForkSafety.h>

#include <new>
#include <pthread.h>

namespace krerrlog {
namespace {

struct Entry {
    int order;
    void* lock;
    ForkHandlers handlers;
};

constexpr int kMaxEntries = 64;

struct Registry {
    std::mutex section;          // guards entries and count; held only briefly
    std::mutex forking;          // one fork at a time, from prepare to parent or child
    Entry entries[kMaxEntries];  // ascending order
    int count = 0;
    Entry held[kMaxEntries];     // the locks taken by the fork in progress
    int heldCount = 0;
};

Registry& TheRegistry()
{
    // Never destroyed: a fork may come while static objects are torn down.
    static Registry* registry = new Registry;
    return *registry;
}

void PrepareFork()
{
    Registry& r = TheRegistry();
    r.forking.lock();
    {
        // A snapshot, so that no lock is awaited under the registry's own
        // section: a thread may register a lock while it holds another one.
        std::lock_guard<std::mutex> hold(r.section);
        for (int i = 0; i < r.count; ++i) r.held[i] = r.entries[i];
        r.heldCount = r.count;
    }
    for (int i = 0; i < r.heldCount; ++i) r.held[i].handlers.prepare(r.held[i].lock);
}

void AfterForkInParent()
{
    Registry& r = TheRegistry();
    for (int i = r.heldCount; i-- > 0;) r.held[i].handlers.parent(r.held[i].lock);
    r.heldCount = 0;
    r.forking.unlock();
}

void AfterForkInChild()
{
    Registry& r = TheRegistry();
    // A thread of the parent may have been registering at the instant of fork.
    new (&r.section) std::mutex;
    for (int i = r.heldCount; i-- > 0;) r.held[i].handlers.child(r.held[i].lock);
    r.heldCount = 0;
    r.forking.unlock();
}

}  // namespace

bool RegisterForkSafeLock(int order, void* lock, const ForkHandlers& handlers)
{
    if (!lock || !handlers.prepare || !handlers.parent || !handlers.child) return false;
    static const bool installed = pthread_atfork(&PrepareFork, &AfterForkInParent, &AfterForkInChild) == 0;
    if (!installed) return false;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.section);
    if (r.count == kMaxEntries) return false;
    // Kept sorted; locks of one place keep the order they registered in.
    int at = r.count;
    while (at > 0 && r.entries[at - 1].order > order) {
        r.entries[at] = r.entries[at - 1];
        --at;
    }
    r.entries[at] = Entry{order, lock, handlers};
    ++r.count;
    return true;
}

int ForkSafeLockCount()
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.section);
    return r.count;
}

}  // namespace krerrlog
