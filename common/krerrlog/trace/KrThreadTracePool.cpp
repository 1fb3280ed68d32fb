// The per-thread side of the record pool: a thread's entries are listed in a
// thread key of their own whose destructor gives every one of them back when
// the thread ends, whichever logger (process-wide or named) it was taken for.
#include <krerrlog/trace/KrThreadTracePool.h>

#include <krerrlog/support/internal/KrThreadKey.h>
#include <krerrlog/support/platform/KrSavedErrorCodes.h>
#include <krerrlog/trace/internal/KrTraceRecordPool.h>

namespace {

// Gives back every entry of the list. The logger's thread key is cleared first,
// so a trace made later in this thread's exit (another key's destructor) takes
// a fresh entry, which brings this destructor back once more.
void GiveBackHeldEntries(void* head)
{
    krerrlog::SavedErrorCodes keepErrors;
    auto* entry = static_cast<ThreadTraceData*>(head);
    while (entry) {
        ThreadTraceData* next = entry->pNextHeld;
        krerrlog::ThreadKeySet(entry->heldKey, nullptr);
        entry->pNextHeld = nullptr;
        entry->bFree.store(true, std::memory_order_release);
        entry = next;
    }
}

unsigned long HeldEntriesKey()
{
    static const unsigned long key = krerrlog::ThreadKeyAlloc(&GiveBackHeldEntries);
    return key;
}

}  // namespace

ThreadTraceData* GetThreadTraceData() { return krerrlog::TraceRecordPool::Instance().Take(); }

namespace krerrlog {

void HoldThreadTraceData(ThreadTraceData* entry, unsigned long loggerKey)
{
    SavedErrorCodes keepErrors;
    const unsigned long listKey = HeldEntriesKey();
    // Entries whose logger key no longer leads to them belong to a logger that
    // was released (its key deleted): give them back now rather than at the
    // thread's end, so a long-lived thread does not pile them up.
    auto* head = static_cast<ThreadTraceData*>(ThreadKeyGet(listKey));
    ThreadTraceData** link = &head;
    while (*link) {
        ThreadTraceData* held = *link;
        if (ThreadKeyGet(held->heldKey) != held) {
            *link = held->pNextHeld;
            held->pNextHeld = nullptr;
            held->bFree.store(true, std::memory_order_release);
        } else {
            link = &held->pNextHeld;
        }
    }
    entry->heldKey = loggerKey;
    entry->pNextHeld = head;
    ThreadKeySet(loggerKey, entry);
    ThreadKeySet(listKey, entry);
}

}  // namespace krerrlog
