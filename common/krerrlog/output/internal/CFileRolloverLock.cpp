#include <krerrlog/output/internal/CFileRolloverLock.h>

#include <krerrlog/support/platform/KrForkSafety.h>
#include <krerrlog/support/internal/KrNeverDestroyed.h>

#include <cstdlib>

namespace krerrlog {

namespace {

// Which locks the calling thread holds, and how. A thread holds very few
// roll-over locks at once (one in the library); the table keeps the hot path
// free of allocation and of any shared map.
struct ThreadHold {
    const void* lock;
    int kind;
};
constexpr int kMaxHoldsPerThread = 8;
thread_local ThreadHold t_holds[kMaxHoldsPerThread];

[[noreturn]] void MisusedLock() { std::abort(); }

}  // namespace

CFileRolloverLock& CFileRolloverLock::Process()
{
    // Never destroyed: threads may still log while static objects are torn down.
    static krerrlog::NeverDestroyed<CFileRolloverLock> lock;
    // Unchecked lambdas: the hold spans the fork handlers.
    static const bool registered = RegisterForkSafeLock(
        kForkOrderRollover, &lock.Get(),
        {[](void* l) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS { static_cast<CFileRolloverLock*>(l)->PrepareFork(); },
         [](void* l) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS { static_cast<CFileRolloverLock*>(l)->ParentAfterFork(); },
         [](void* l) KRERRLOG_NO_THREAD_SAFETY_ANALYSIS { static_cast<CFileRolloverLock*>(l)->ChildAfterFork(); }});
    (void)registered;
    return lock.Get();
}

CFileRolloverLock::CFileRolloverLock()
    : m_iReaders(0), m_iWriters(0), m_iWaiting(0), m_pHead(nullptr), m_pTail(nullptr)
{
}

CFileRolloverLock::~CFileRolloverLock() = default;

CFileRolloverLock::Kind CFileRolloverLock::HeldByThisThread() const
{
    for (const ThreadHold& hold : t_holds) {
        if (hold.lock == this) return static_cast<Kind>(hold.kind);
    }
    return Kind::None;
}

void CFileRolloverLock::RecordThisThread(Kind kind)
{
    if (kind == Kind::None) {
        for (ThreadHold& hold : t_holds) {
            if (hold.lock == this) hold = ThreadHold{nullptr, 0};
        }
        return;
    }
    for (ThreadHold& hold : t_holds) {
        if (!hold.lock) {
            hold = ThreadHold{this, static_cast<int>(kind)};
            return;
        }
    }
    MisusedLock();
}

void CFileRolloverLock::Enqueue(Waiter& waiter)
{
    if (m_pTail) {
        m_pTail->next = &waiter;
    } else {
        m_pHead = &waiter;
    }
    m_pTail = &waiter;
    ++m_iWaiting;
}

void CFileRolloverLock::Dequeue(Waiter& waiter)
{
    Waiter* before = nullptr;
    for (Waiter* w = m_pHead; w; before = w, w = w->next) {
        if (w != &waiter) continue;
        (before ? before->next : m_pHead) = w->next;
        if (m_pTail == w) m_pTail = before;
        w->next = nullptr;
        --m_iWaiting;
        return;
    }
}

void CFileRolloverLock::WaitFor(Waiter& waiter)
{
    // The caller's hold stays the caller's: the wait only lends it out.
    std::unique_lock<std::mutex> held(m_section.Native(), std::adopt_lock);
    waiter.event.wait(held, [&] { return waiter.signalled; });
    held.release();
    waiter.signalled = false;
}

void CFileRolloverLock::SignalHead()
{
    if (!m_pHead) return;
    m_pHead->signalled = true;
    m_pHead->event.notify_one();
}

void CFileRolloverLock::AcquireShared()
{
    MutexHold held(m_section);
    if (HeldByThisThread() != Kind::None) MisusedLock();
    if (m_iWriters != 0 || m_pHead) {
        Waiter self;
        self.kind = Kind::Reader;
        Enqueue(self);
        for (;;) {
            WaitFor(self);
            if (m_iWriters != 0) continue;
            // Readers are let in only when no writer queued before them.
            Waiter* w = m_pHead;
            while (w != &self && w->kind == Kind::Reader) w = w->next;
            if (w == &self) break;
        }
        Dequeue(self);
    }
    ++m_iReaders;
    RecordThisThread(Kind::Reader);
    // Readers queued one behind another come in together.
    if (m_pHead && m_pHead->kind == Kind::Reader) SignalHead();
}

void CFileRolloverLock::ReleaseShared()
{
    MutexHold held(m_section);
    if (HeldByThisThread() != Kind::Reader) MisusedLock();
    RecordThisThread(Kind::None);
    --m_iReaders;
    if (m_pHead && (m_pHead->kind == Kind::Reader || m_iReaders == 0)) SignalHead();
}

void CFileRolloverLock::AcquireExclusive()
{
    MutexHold held(m_section);
    if (HeldByThisThread() != Kind::None) MisusedLock();
    if (m_iReaders != 0 || m_iWriters != 0 || m_pHead) {
        Waiter self;
        self.kind = Kind::Writer;
        Enqueue(self);
        do {
            WaitFor(self);
        } while (m_iReaders != 0 || m_iWriters != 0 || m_pHead != &self);
        Dequeue(self);
    }
    ++m_iWriters;
    RecordThisThread(Kind::Writer);
}

void CFileRolloverLock::ReleaseExclusive()
{
    MutexHold held(m_section);
    if (HeldByThisThread() != Kind::Writer) MisusedLock();
    RecordThisThread(Kind::None);
    --m_iWriters;
    SignalHead();
}

void CFileRolloverLock::PrepareFork()
{
    AcquireExclusive();
    m_section.lock();
}

void CFileRolloverLock::ParentAfterFork()
{
    m_section.unlock();
    ReleaseExclusive();
}

// Unchecked: the child's forking thread is its only one; the waiters and
// holders counted are the parent's.
void CFileRolloverLock::ChildAfterFork() KRERRLOG_NO_THREAD_SAFETY_ANALYSIS
{
    m_pHead = m_pTail = nullptr;
    m_iWaiting = 0;
    m_iReaders = 0;
    m_iWriters = 0;
    RecordThisThread(Kind::None);
    m_section.unlock();
}

int CFileRolloverLock::Readers()
{
    MutexHold held(m_section);
    return m_iReaders;
}

int CFileRolloverLock::Writers()
{
    MutexHold held(m_section);
    return m_iWriters;
}

int CFileRolloverLock::Waiting()
{
    MutexHold held(m_section);
    return m_iWaiting;
}

}  // namespace krerrlog
