#include <krerrlog/support/KrErrLogGuard.h>

#include <krerrlog/support/platform/KrPlatformSemaphore.h>

#include <new>

namespace {
constexpr long kSemaphoreMaximum = 0x7fffffff;
}

CKrGuard::CKrGuard()
    : m_readers(0, kSemaphoreMaximum, true),
      m_writers(0, kSemaphoreMaximum, true),
      m_iWaitingReaders(0),
      m_iWaitingWriters(0),
      m_iActive(0)
{
}

CKrGuard::~CKrGuard() = default;

void CKrGuard::LockForRead()
{
    m_section.Enter();
    if (m_iWaitingWriters == 0 && m_iActive >= 0) {
        ++m_iActive;
        m_section.Leave();
        return;
    }
    ++m_iWaitingReaders;
    m_section.Leave();
    // Whoever releases the semaphore has already counted this reader in.
    m_readers.Wait(krerrlog::PlatformSemaphore::kInfinite);
}

void CKrGuard::LockForWrite()
{
    m_section.Enter();
    if (m_iActive == 0) {
        m_iActive = -1;
        m_section.Leave();
        return;
    }
    ++m_iWaitingWriters;
    m_section.Leave();
    m_writers.Wait(krerrlog::PlatformSemaphore::kInfinite);
}

void CKrGuard::Unlock()
{
    CKrErrLogSemaphore* wake = nullptr;
    long count = 0;

    m_section.Enter();
    if (m_iActive > 0) {
        --m_iActive;
    } else {
        ++m_iActive;
    }
    if (m_iActive == 0) {
        if (m_iWaitingWriters > 0) {
            m_iActive = -1;
            --m_iWaitingWriters;
            wake = &m_writers;
            count = 1;
        } else if (m_iWaitingReaders > 0) {
            m_iActive = m_iWaitingReaders;
            m_iWaitingReaders = 0;
            wake = &m_readers;
            count = m_iActive;
        }
    }
    m_section.Leave();

    // Released outside the section so the woken threads do not contend for it.
    if (wake) wake->Release(count);
}

CKrErrLogGuard::CKrErrLogGuard() : m_pState(new (std::nothrow) CKrGuard)
{
    // A state without its semaphores would let every thread in at once.
    if (m_pState && (m_pState->m_readers.Wait(0) < 0 || m_pState->m_writers.Wait(0) < 0)) {
        delete m_pState;
        m_pState = nullptr;
    }
}

CKrErrLogGuard::~CKrErrLogGuard()
{
    delete m_pState;
    m_pState = nullptr;
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
void CKrErrLogAutoReader::InitReadLockWithCKrErrLogGuard(CKrErrLogGuard* guard)
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
void CKrErrLogAutoWriter::InitWriteLockWithCKrErrLogGuard(CKrErrLogGuard* guard)
{
    m_pGuard = guard;
    if (m_pGuard) m_pGuard->LockForWrite();
}
CKrErrLogAutoWriter::~CKrErrLogAutoWriter()
{
    if (m_pGuard && m_pGuard->HasState()) m_pGuard->Unlock();
}
