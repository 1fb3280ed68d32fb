// The logger's trace decisions: availability, verdicts per component, and the
// hand-out of the calling thread's records, for the trace and the in-memory
// trace. The kind's reader lock is held only while the master and the verdict
// table are read and while a record is refreshed from the master (a verdict
// already decided "not traced" is read without it: KnownNotTraced); it is
// never held together with the pool's lock.
#include <krerrlog/logger/CKrLogger.h>

#include <krerrlog/logger/internal/KrNestedLogGuard.h>
#include <krerrlog/logger/internal/KrTracesAvailable.h>
#include <krerrlog/support/internal/KrThreadKey.h>
#include <krerrlog/support/platform/KrSavedErrorCodes.h>
#include <krerrlog/trace/CKrTraceData.h>
#include <krerrlog/trace/KrThreadTracePool.h>
#include <krerrlog/trace/internal/KrTraceRecordPool.h>

#include <atomic>

namespace {

constexpr int kTraced = 1;
constexpr int kNotTraced = -1;

ThreadTraceData* EntryUnder(unsigned long key)
{
    krerrlog::SavedErrorCodes keepErrors;
    return static_cast<ThreadTraceData*>(krerrlog::ThreadKeyGet(key));
}

}  // namespace

// ---- Locks and availability ----

// Through the per-thread record (KrNestedLogGuard.h): a decision made from
// inside a trace output (a callback that traces) reads under the hold its
// caller already has. False, holding nothing, past the nesting limit.
// Unchecked: the guard is picked at run time (the annotation names m_traceGuard).
bool CKrLogger::LockTraceForRead(bool buffered) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
{
    return buffered ? krerrlog::EnterRead(m_bufferedTraceGuard) : krerrlog::EnterRead(m_traceGuard);
}

void CKrLogger::UnlockTrace(bool buffered) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS  // as LockTraceForRead
{
    if (buffered) {
        krerrlog::LeaveRead(m_bufferedTraceGuard);
    } else {
        krerrlog::LeaveRead(m_traceGuard);
    }
}

bool CKrLogger::TraceAvailableLocked() const
{
    return m_bInited && m_pTraceConfig && (m_pTraceOutput || m_pSecondTraceOutput);
}

bool CKrLogger::InMemoryTraceAvailableLocked() const
{
    return m_bInited && m_pInMemoryTraceConfig && m_pInMemoryTraceOutput;
}

// Each flag is published under its own kind's writer side only, so two
// threads switching the trace and the in-memory trace never store a stale
// value of the other's flag; that writer side is also why the relaxed look at
// the old value is exact.
void CKrLogger::PublishTraceAvailability() { Publish(m_bTraceAvailable, TraceAvailableLocked()); }

void CKrLogger::PublishInMemoryAvailability() { Publish(m_bInMemoryTraceAvailable, InMemoryTraceAvailableLocked()); }

void CKrLogger::Publish(std::atomic<bool>& flag, bool available)
{
    if (flag.load(std::memory_order_relaxed) == available) return;
    if (available) krerrlog::g_tracesAvailable.fetch_add(1, std::memory_order_relaxed);
    flag.store(available, std::memory_order_release);
    if (!available) krerrlog::g_tracesAvailable.fetch_sub(1, std::memory_order_relaxed);
}

// Readers decide an entry at once (they all store the same value) and the
// writer clears the table under its lock (ClearVerdicts, with the flag of its
// kind false): readers use relaxed atomic accesses.
bool CKrLogger::DecideLocked(int* verdicts, CKrTraceData* master, unsigned int componentId)
{
    std::atomic_ref<int> verdict(verdicts[KrVerdictIndex(componentId)]);
    int decided = verdict.load(std::memory_order_relaxed);
    if (decided == 0) {
        decided = master->ComponentSelected(componentId) ? kTraced : kNotTraced;
        verdict.store(decided, std::memory_order_relaxed);
    }
    return decided == kTraced;
}

void CKrLogger::ClearVerdicts(int* verdicts)
{
    for (int i = 0; i < kVerdictCount; ++i) std::atomic_ref<int>(verdicts[i]).store(0, std::memory_order_relaxed);
}

// The common answer of a call that is not traced, read without the reader
// hold, after the caller saw its kind's flag true (acquire). An entry is set
// only under the reader hold, by a reader of the installed configuration, and
// cleared under the writer side before the flag is published true again
// (release), so "not traced" read here is the verdict of a configuration that
// was installed during the call: a reader that saw the latest publication
// sees the clear or a later verdict; one that saw an earlier publication
// answers as a call made before the switch would. Anything else (0, traced)
// is decided under the hold. Relaxed as in DecideLocked.
// Unchecked: the look is made without the guard, on purpose.
bool CKrLogger::KnownNotTraced(int* verdicts, unsigned int componentId) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
{
    return std::atomic_ref<int>(verdicts[KrVerdictIndex(componentId)]).load(std::memory_order_relaxed) == kNotTraced;
}

// ---- Questions about the configuration ----

bool CKrLogger::TraceEnabled(unsigned int componentId)
{
    // The availability flag is republished under the writer side by every
    // change, so for id 0 it is the answer the lock would give.
    if (!TraceAvailableNow()) return false;
    if (componentId == 0) return true;
    return !KnownNotTraced(m_traceVerdicts, componentId) && DecideTraceUnderHold(componentId, nullptr, nullptr);
}

bool CKrLogger::InMemoryTraceEnabled(unsigned int) { return InMemoryTraceAvailableNow(); }

bool CKrLogger::FieldTraced(unsigned int fieldId)
{
    if (!m_bTraceAvailable.load(std::memory_order_acquire)) return false;
    const bool buffered = GetBufferedTracing();
    if (!LockTraceForRead(buffered)) return false;
    const bool traced = m_bInited && m_pTraceConfig && m_pTraceOutput && m_pTraceConfig->FieldTraced(fieldId);
    UnlockTrace(buffered);
    return traced;
}

bool CKrLogger::FieldTracedInMemory(unsigned int fieldId)
{
    if (!m_bInMemoryTraceAvailable.load(std::memory_order_acquire)) return false;
    krerrlog::NestedReadHold<CKrReadWriteGuard> hold(m_inMemoryGuard);
    return hold.Admitted() && InMemoryTraceAvailableLocked() && m_pInMemoryTraceConfig->FieldTraced(fieldId);
}

// ---- Decisions that refresh a record ----

bool CKrLogger::ShouldTrace(unsigned int componentId, CKrTraceData* record)
{
    if (!record || !m_bTraceAvailable.load(std::memory_order_acquire)) return false;
    return !KnownNotTraced(m_traceVerdicts, componentId) && DecideTraceUnderHold(componentId, record, nullptr);
}

bool CKrLogger::ShouldInMemoryTrace(unsigned int componentId, CKrTraceData* record)
{
    if (!record || !m_bInMemoryTraceAvailable.load(std::memory_order_acquire)) return false;
    return !KnownNotTraced(m_inMemoryTraceVerdicts, componentId) &&
           DecideInMemoryUnderHold(componentId, record, nullptr);
}

// The rest of a decision, apart from the checks above so that those run
// without saving registers: the verdict under the kind's hold, refreshing
// record if it is older than the installed configuration; then the thread's
// record handed to *out if out is given.
__attribute__((noinline)) bool CKrLogger::DecideTraceUnderHold(unsigned int componentId, CKrTraceData* record,
                                                               CKrTraceData** out)
{
    const bool buffered = GetBufferedTracing();
    if (!LockTraceForRead(buffered)) return false;
    const bool traced = TraceAvailableLocked() && DecideLocked(m_traceVerdicts, m_pTraceConfig, componentId);
    const int version = traced ? m_pTraceConfig->m_iVersion : 0;
    if (traced && record && record->m_iVersion < version) *record = *m_pTraceConfig;
    UnlockTrace(buffered);
    return traced && (!out || HandOutRecord(false, version, out));
}

__attribute__((noinline)) bool CKrLogger::DecideInMemoryUnderHold(unsigned int componentId, CKrTraceData* record,
                                                                  CKrTraceData** out)
{
    int version = 0;
    {
        krerrlog::NestedReadHold<CKrReadWriteGuard> hold(m_inMemoryGuard);
        if (!hold.Admitted() || !InMemoryTraceAvailableLocked() ||
            !DecideLocked(m_inMemoryTraceVerdicts, m_pInMemoryTraceConfig, componentId)) {
            return false;
        }
        version = m_pInMemoryTraceConfig->m_iVersion;
        if (record && record->m_iVersion < version) *record = *m_pInMemoryTraceConfig;
    }
    return !out || HandOutRecord(true, version, out);
}

// ---- Hand-out of the thread's records ----

// Steps after the decision: the thread's entry (taken on first use), brought
// up to version, handed to *out.
bool CKrLogger::HandOutRecord(bool inMemory, int version, CKrTraceData** out)
{
    if (*out) return false;
    const unsigned long key = inMemory ? m_inMemoryTraceKey : m_traceKey;
    ThreadTraceData* entry = EntryUnder(key);
    if (!entry) {
        entry = GetThreadTraceData();
        if (!entry) return false;  // no memory for the pool to grow: this call is not traced
        krerrlog::HoldThreadTraceData(entry, key);
    }
    CKrTraceData* record = entry->pTraceData;
    if (record->m_iVersion < version) {
        if (inMemory) {
            krerrlog::NestedReadHold<CKrReadWriteGuard> hold(m_inMemoryGuard);
            if (!hold.Admitted()) return false;
            if (m_pInMemoryTraceConfig) *record = *m_pInMemoryTraceConfig;
        } else {
            const bool buffered = GetBufferedTracing();
            if (!LockTraceForRead(buffered)) return false;
            if (m_pTraceConfig) *record = *m_pTraceConfig;
            UnlockTrace(buffered);
        }
    }
    *out = record;
    return true;
}

bool CKrLogger::TraceAlloc(CKrTraceData** out)
{
    if (!out || !m_bTraceAvailable.load(std::memory_order_acquire)) return false;
    const bool buffered = GetBufferedTracing();
    if (!LockTraceForRead(buffered)) return false;
    const bool available = TraceAvailableLocked();
    const int version = available ? m_pTraceConfig->m_iVersion : 0;
    UnlockTrace(buffered);
    return available && HandOutRecord(false, version, out);
}

bool CKrLogger::InMemoryTraceAlloc(CKrTraceData** out)
{
    if (!out || !m_bInMemoryTraceAvailable.load(std::memory_order_acquire)) return false;
    int version = 0;
    {
        krerrlog::NestedReadHold<CKrReadWriteGuard> hold(m_inMemoryGuard);
        if (!hold.Admitted() || !InMemoryTraceAvailableLocked()) return false;
        version = m_pInMemoryTraceConfig->m_iVersion;
    }
    return HandOutRecord(true, version, out);
}

bool CKrLogger::ShouldTraceAlloc(unsigned int componentId, CKrTraceData** out)
{
    if (!out || !m_bTraceAvailable.load(std::memory_order_acquire)) return false;
    return !KnownNotTraced(m_traceVerdicts, componentId) && DecideTraceUnderHold(componentId, nullptr, out);
}

bool CKrLogger::ShouldInMemoryTraceAlloc(unsigned int componentId, CKrTraceData** out)
{
    if (!out || !m_bInMemoryTraceAvailable.load(std::memory_order_acquire)) return false;
    return !KnownNotTraced(m_inMemoryTraceVerdicts, componentId) && DecideInMemoryUnderHold(componentId, nullptr, out);
}

CKrTraceData* CKrLogger::GetLocalKrTraceData()
{
    ThreadTraceData* entry = EntryUnder(m_traceKey);
    return entry ? entry->pTraceData : nullptr;
}

CKrTraceData* CKrLogger::GetLocalInMemoryKrTraceData()
{
    ThreadTraceData* entry = EntryUnder(m_inMemoryTraceKey);
    return entry ? entry->pTraceData : nullptr;
}
