// The logger's read holds on its guards, with a per-thread record of which
// guards the calling thread is inside, so that an output that logs through its
// own logger (a host callback does) never waits for itself.
//
// The guards are writer-preferring and not re-entrant: a reader that asks again
// while a writer waits queues behind the writer, and the writer waits for the
// first hold of that same reader, so the thread would hang. The logger
// therefore never asks a guard twice on one thread:
//   - a read hold asked for on a guard the thread already reads under is
//     granted without touching the guard (the outer hold already keeps the
//     writers out); such nested holds go at most kMaxHeldGuards - 1 deep, so a
//     callback that logs from every line it is given ends instead of recursing
//     without bound: the hold that would go deeper is refused;
//   - ThreadReadsUnder tells the writer paths (attaching and detaching outputs)
//     that the calling thread is inside that guard's reader side, which they
//     refuse instead of waiting for themselves.
// The record is a few words of thread-local storage: nothing is allocated and
// no memory shared with another thread is written.
#pragma once

#include <krerrlog/KrThreadAnnotations.h>

namespace krerrlog {

class NestedReadRecord {
public:
    static constexpr int kMaxHeldGuards = 8;
    enum class Entry { Taken, Nested, Refused };

    constexpr NestedReadRecord() noexcept : m_guards{}, m_depth(0) {}
    NestedReadRecord(const NestedReadRecord&) = delete;
    NestedReadRecord& operator=(const NestedReadRecord&) = delete;

    // The calling thread's record (one thread-local lookup: keep the reference).
    static NestedReadRecord& OfThisThread() noexcept;
    // True when the calling thread holds guard for reading through a NestedReadHold.
    static bool ThreadReadsUnder(const void* guard) noexcept { return OfThisThread().ReadsUnder(guard); }

    bool ReadsUnder(const void* guard) const noexcept
    {
        for (int i = 0; i < m_depth; ++i)
            if (m_guards[i] == guard) return true;
        return false;
    }
    // Notes that the thread is about to read under guard; says whether it must
    // take the guard (Taken), already holds it (Nested) or is too deep
    // (Refused, nothing noted).
    Entry Enter(const void* guard) noexcept
    {
        if (m_depth == kMaxHeldGuards) return Entry::Refused;
        const bool nested = ReadsUnder(guard);
        m_guards[m_depth++] = guard;
        return nested ? Entry::Nested : Entry::Taken;
    }
    // Forgets the latest Enter that was not refused.
    void Leave() noexcept
    {
        if (m_depth > 0) --m_depth;
    }

private:
    const void* m_guards[kMaxHeldGuards];
    int m_depth;
};

// A read hold on one of the logger's guards (CKrErrLogGuard or
// CKrReadWriteGuard), taken only when the calling thread does not already read
// under it. Check Admitted() before using what the guard protects.
// To the analysis the hold is taken; the guarded data is used only after
// Admitted(), which it cannot see.
template <typename Guard>
class KRERRLOG_SCOPED_CAPABILITY NestedReadHold {
public:
    // Unchecked: the guard is taken only when the thread does not hold it yet.
    explicit NestedReadHold(Guard& guard) noexcept KRERRLOG_ACQUIRE_SHARED(guard) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
        : m_guard(guard), m_record(NestedReadRecord::OfThisThread()), m_entry(m_record.Enter(&guard))
    {
        if (m_entry == NestedReadRecord::Entry::Taken) m_guard.LockForRead();
    }
    ~NestedReadHold() KRERRLOG_RELEASE() KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
    {
        if (m_entry == NestedReadRecord::Entry::Refused) return;
        if (m_entry == NestedReadRecord::Entry::Taken) m_guard.Unlock();
        m_record.Leave();
    }
    NestedReadHold(const NestedReadHold&) = delete;
    NestedReadHold& operator=(const NestedReadHold&) = delete;

    // False when the line was refused for going too deep.
    bool Admitted() const noexcept { return m_entry != NestedReadRecord::Entry::Refused; }

private:
    Guard& m_guard;
    NestedReadRecord& m_record;
    const NestedReadRecord::Entry m_entry;
};

// Notes a write hold the thread already has while it hands lines to an output
// (the header lines of a trace being switched on): a line that output logs
// again reads under the write hold instead of waiting for its own writer.
class NotedWriteHold {
public:
    explicit NotedWriteHold(const void* guard) noexcept
        : m_record(NestedReadRecord::OfThisThread()), m_bNoted(m_record.Enter(guard) != NestedReadRecord::Entry::Refused)
    {
    }
    ~NotedWriteHold()
    {
        if (m_bNoted) m_record.Leave();
    }
    NotedWriteHold(const NotedWriteHold&) = delete;
    NotedWriteHold& operator=(const NotedWriteHold&) = delete;

private:
    NestedReadRecord& m_record;
    const bool m_bNoted;
};

// The same for a hold taken and given back by separate calls (the trace
// decisions pick their guard by the logger's mode). EnterRead is false when
// the nesting limit refuses the hold: then nothing is held and LeaveRead must
// not follow.
// Unchecked, as NestedReadHold: the guard is taken only at the outermost hold.
template <typename Guard>
bool EnterRead(Guard& guard) noexcept KRERRLOG_TRY_ACQUIRE_SHARED(true, guard) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
{
    switch (NestedReadRecord::OfThisThread().Enter(&guard)) {
    case NestedReadRecord::Entry::Refused:
        return false;
    case NestedReadRecord::Entry::Taken:
        guard.LockForRead();
        return true;
    case NestedReadRecord::Entry::Nested:
        break;
    }
    return true;
}

template <typename Guard>
void LeaveRead(Guard& guard) noexcept KRERRLOG_RELEASE_SHARED(guard) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
{
    NestedReadRecord& record = NestedReadRecord::OfThisThread();
    record.Leave();
    // Taken only when no outer hold of the same guard was noted: if one is
    // still noted, this hold was nested and the outer one keeps the guard.
    if (!record.ReadsUnder(&guard)) guard.Unlock();
}

}  // namespace krerrlog
