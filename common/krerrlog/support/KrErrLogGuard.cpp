#include <krerrlog/support/KrErrLogGuard.h>

#include <krerrlog/support/internal/KrClearedOnDestruction.h>
#include <krerrlog/support/internal/KrMemoryPolicy.h>
#include <krerrlog/support/internal/KrReaderSlots.h>
#include <krerrlog/support/platform/KrPlatformSemaphore.h>

#include <chrono>
#include <new>
#include <thread>

namespace {
constexpr long kSemaphoreMaximum = 0x7fffffff;
}

CKrGuard::CKrGuard()
    : m_readers(0, kSemaphoreMaximum, true),
      m_writers(0, kSemaphoreMaximum, true),
      m_iWaitingReaders(0),
      m_iWaitingWriters(0),
      m_iActive(0),
      m_writerGate(0),
      m_pWriterThread(nullptr),
      m_pReaderSlots(new (std::nothrow) krerrlog::ReaderSlots),
      m_iReadersWithoutSlots(0)
{
}

CKrGuard::~CKrGuard() { delete m_pReaderSlots; }

void CKrGuard::LockForRead()
{
    for (;;) {
        if (m_writerGate.load(std::memory_order_acquire) == 0) {
            // Count in first, then look at the gate: a writer that closes it
            // meanwhile sees this reader in its sum (KrReaderSlots.h).
            ReaderEnters();
            if (m_writerGate.load(std::memory_order_seq_cst) == 0) return;
            ReaderLeaves();  // a writer came first
        }
        m_section.Enter();
        if (m_writerGate.load(std::memory_order_relaxed) == 0) {
            m_section.Leave();  // the writers have gone meanwhile
            continue;
        }
        ++m_iWaitingReaders;
        m_section.Leave();
        // The last writer to leave opens the gate and wakes every queued reader.
        m_readers.Wait(krerrlog::PlatformSemaphore::kInfinite);
    }
}

void CKrGuard::LockForWrite()
{
    m_section.Enter();
    if (m_writerGate.load(std::memory_order_relaxed) == 0) {
        m_writerGate.store(1, std::memory_order_seq_cst);
        m_iActive = -1;
        ++m_iWaitingWriters;  // waiting, for the readers inside to leave
        m_section.Leave();
        krerrlog::ReaderSlots::AfterGateClosed();
        WaitUntilNoReaderInside();
        m_section.Enter();
        --m_iWaitingWriters;
        m_section.Leave();
    } else {
        ++m_iWaitingWriters;
        m_section.Leave();
        // Handed over by the leaving writer with the gate still closed, so no
        // reader got in between.
        m_writers.Wait(krerrlog::PlatformSemaphore::kInfinite);
    }
    m_pWriterThread.store(krerrlog::ReaderSlots::ThisThread(), std::memory_order_relaxed);
}

bool CKrGuard::HasSemaphores() const { return m_readers.HasHandle() && m_writers.HasHandle(); }

void CKrGuard::ReaderEnters()
{
    if (m_pReaderSlots) {
        m_pReaderSlots->Enter();
    } else {
        m_iReadersWithoutSlots.fetch_add(1, std::memory_order_seq_cst);  // ordered before the gate's re-check
    }
}

void CKrGuard::ReaderLeaves()
{
    if (m_pReaderSlots) {
        m_pReaderSlots->Leave();
    } else {
        m_iReadersWithoutSlots.fetch_sub(1, std::memory_order_release);  // the reads under the hold come first
    }
}

int CKrGuard::ReadersInside() const
{
    return m_pReaderSlots ? m_pReaderSlots->Sum() : m_iReadersWithoutSlots.load(std::memory_order_seq_cst);
}

void CKrGuard::WaitUntilNoReaderInside()
{
    // Writers are rare (configuration changes) and readers hold the guard
    // briefly: yield first, then sleep a little between looks.
    for (int look = 0; ReadersInside() != 0; ++look) {
        if (look < 100) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(look < 1000 ? 20 : 500));
        }
    }
}

void CKrGuard::Unlock()
{
    if (m_pWriterThread.load(std::memory_order_relaxed) != krerrlog::ReaderSlots::ThisThread()) {
        ReaderLeaves();
        return;
    }
    m_pWriterThread.store(nullptr, std::memory_order_relaxed);
    CKrErrLogSemaphore* wake = nullptr;
    long count = 0;
    m_section.Enter();
    if (m_iWaitingWriters > 0) {
        --m_iWaitingWriters;
        wake = &m_writers;
        count = 1;
    } else {
        m_iActive = 0;
        m_writerGate.store(0, std::memory_order_release);
        if (m_iWaitingReaders > 0) {
            count = m_iWaitingReaders;
            m_iWaitingReaders = 0;
            wake = &m_readers;
        }
    }
    m_section.Leave();

    // Released outside the section so the woken threads do not contend for it.
    if (wake) wake->Release(count);
}

// Unchecked: in the child the forking thread is the only one, and the
// section itself is made anew.
void CKrGuard::ResetInChild() KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
{
    new (&m_section) CKrErrLogCriticalSection;  // a parent thread may have been inside
    m_readers.ResetInChild();
    m_writers.ResetInChild();
    m_iWaitingReaders = 0;
    m_iWaitingWriters = 0;
    m_iActive = 0;
    // The forking thread held the guard for writing: the gate opens again, and
    // no reader of the parent's is inside (the writer waited for them all).
    m_pWriterThread.store(nullptr, std::memory_order_relaxed);
    m_writerGate.store(0, std::memory_order_release);
}

// Without memory for the state the guard holds none (without memory for the
// reader slots alone it counts its readers in one counter).
CKrErrLogGuard::CKrErrLogGuard()
    : m_pState(krerrlog::NoThrow<CKrGuard*>(nullptr, [] { return new (std::nothrow) CKrGuard; }))
{
    // A state without its semaphores would let every thread in at once.
    if (m_pState && !m_pState->HasSemaphores()) {
        delete m_pState;
        m_pState = nullptr;
    }
}

CKrErrLogGuard::~CKrErrLogGuard()
{
    delete m_pState;
    krerrlog::ClearForLateCallers(m_pState);
}

void CKrErrLogGuard::LockForRead()
{
    if (m_pState) m_pState->LockForRead();
}
void CKrErrLogGuard::LockForWrite()
{
    if (m_pState) m_pState->LockForWrite();
}
void CKrErrLogGuard::Unlock()
{
    if (m_pState) m_pState->Unlock();
}

CKrErrLogAutoReader::CKrErrLogAutoReader() : m_pGuard(nullptr) {}
CKrErrLogAutoReader::CKrErrLogAutoReader(CKrErrLogGuard* guard) : m_pGuard(nullptr)
{
    InitReadLockWithCKrErrLogGuard(guard);
}
// Unchecked: a deferred hold, taken only for a non-null guard.
void CKrErrLogAutoReader::InitReadLockWithCKrErrLogGuard(CKrErrLogGuard* guard) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
{
    m_pGuard = guard;
    if (m_pGuard) m_pGuard->LockForRead();
}
CKrErrLogAutoReader::~CKrErrLogAutoReader()
{
    if (m_pGuard && m_pGuard->HasState()) m_pGuard->Unlock();
}

CKrErrLogAutoWriter::CKrErrLogAutoWriter() : m_pGuard(nullptr) {}
CKrErrLogAutoWriter::CKrErrLogAutoWriter(CKrErrLogGuard* guard) : m_pGuard(nullptr)
{
    InitWriteLockWithCKrErrLogGuard(guard);
}
// Unchecked: a deferred hold, taken only for a non-null guard.
void CKrErrLogAutoWriter::InitWriteLockWithCKrErrLogGuard(CKrErrLogGuard* guard) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
{
    m_pGuard = guard;
    if (m_pGuard) m_pGuard->LockForWrite();
}
CKrErrLogAutoWriter::~CKrErrLogAutoWriter()
{
    if (m_pGuard && m_pGuard->HasState()) m_pGuard->Unlock();
}
