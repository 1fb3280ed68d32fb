#include <krerrlog/support/KrErrLogSemaphore.h>

#include <krerrlog/support/platform/KrPlatformSemaphore.h>

#include <new>

using krerrlog::PlatformSemaphore;

CKrErrLogSyncBase::CKrErrLogSyncBase() : m_hHandle(nullptr) {}

CKrErrLogSyncBase::~CKrErrLogSyncBase()
{
    delete m_hHandle;
    m_hHandle = nullptr;
}

int CKrErrLogSyncBase::Wait(unsigned long milliseconds)
{
    if (!m_hHandle) return -1;
    return m_hHandle->Wait(milliseconds);
}

bool CKrErrLogSyncBase::Test() { return m_hHandle && m_hHandle->Wait(0) == 0; }

namespace {
PlatformSemaphore* CreateSemaphore(long initialCount, long maximumCount)
{
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) return nullptr;
    return new (std::nothrow) PlatformSemaphore(initialCount, maximumCount);
}
}  // namespace

CKrErrLogSemaphore::CKrErrLogSemaphore(long initialCount, long maximumCount, bool create)
{
    if (create) m_hHandle = CreateSemaphore(initialCount, maximumCount);
}

CKrErrLogSemaphore::~CKrErrLogSemaphore()
{
    delete m_hHandle;
    m_hHandle = nullptr;
}

bool CKrErrLogSemaphore::Init(long initialCount, long maximumCount)
{
    if (m_hHandle) return false;
    m_hHandle = CreateSemaphore(initialCount, maximumCount);
    return m_hHandle != nullptr;
}

void CKrErrLogSemaphore::Release(long count)
{
    if (m_hHandle) m_hHandle->Release(count);
}

void CKrErrLogSemaphore::ResetInChild()
{
    if (m_hHandle) m_hHandle->ResetInChild();
}
