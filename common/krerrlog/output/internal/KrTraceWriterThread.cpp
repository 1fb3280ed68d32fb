// The trace writer thread and switching buffered writing on and off.
#include <krerrlog/output/internal/KrTraceWriterThread.h>

#include <krerrlog/support/platform/KrForkSafety.h>
#include <krerrlog/support/platform/KrPlatformClock.h>
#include <krerrlog/support/platform/KrPlatformThread.h>

#include <chrono>
#include <cstdlib>
#include <new>

namespace krerrlog {
namespace {

struct StartRecord {
    void (*fn)(void*);
    void* argument;
    long long startEpochMs;
};

void* StartRoutine(void* raw)
{
    const StartRecord record = *static_cast<StartRecord*>(raw);
    delete static_cast<StartRecord*>(raw);
    const long long wait = record.startEpochMs - NowEpochMilliseconds();
    if (record.startEpochMs != 0 && wait > 0) SleepMilliseconds(static_cast<unsigned long>(wait));
    try {
        record.fn(record.argument);
    } catch (...) {
        // An exception ends the thread quietly.
    }
    return nullptr;
}

}  // namespace

bool StartDetachedThread(void (*fn)(void*), void* argument, long long startEpochMs)
{
    auto* record = new (std::nothrow) StartRecord{fn, argument, startEpochMs};
    if (!record) return false;
    const bool started = LaunchDetachedThread(&StartRoutine, record);
    if (!started) delete record;
    return started;
}

TraceWriter& TraceWriter::Process()
{
    alignas(TraceWriter) static unsigned char storage[sizeof(TraceWriter)];
    static TraceWriter* const writer = [] {
        auto* made = new (storage) TraceWriter();
        RegisterForkSafeLock(kForkOrderRingBufferWriter, made,
                             {[](void* w) { static_cast<TraceWriter*>(w)->PrepareFork(); },
                              [](void* w) { static_cast<TraceWriter*>(w)->ParentAfterFork(); },
                              [](void* w) { static_cast<TraceWriter*>(w)->ChildAfterFork(); }});
        return made;
    }();
    return *writer;
}

bool TraceWriter::Start(const TraceRingSink& sink, uint32_t megabytes)
{
    std::lock_guard<std::mutex> switching(m_switchLock);
    std::lock_guard<std::mutex> writing(m_writerLock);
    TraceRingBuffer& ring = TraceRingBuffer::Process();
    if (ring.Exists() || !sink.bufferingFlag) return false;  // one buffered output per process
    if (!ring.CreateLocked(TraceRingBuffer::BytesForMegabytes(megabytes), sink)) return false;
    m_stop.store(false);
    sink.bufferingFlag->store(true, std::memory_order_release);
    if (!m_exitHandlerRegistered.exchange(true)) std::atexit(&TraceWriter::DrainAtExit);
    return true;
}

bool TraceWriter::LaunchThread()
{
    std::lock_guard<std::mutex> switching(m_switchLock);
    if (!TraceRingBuffer::Process().Exists() || ThreadRunning()) return false;
    m_exited.store(false, std::memory_order_release);
    if (StartDetachedThread(&TraceWriter::ThreadMain, this, 0)) return true;
    m_exited.store(true, std::memory_order_release);
    return false;
}

void TraceWriter::ThreadMain(void* writer) { static_cast<TraceWriter*>(writer)->Run(); }

void TraceWriter::Run()
{
    std::unique_lock<std::mutex> writing(m_writerLock);
    TraceRingBuffer& ring = TraceRingBuffer::Process();
    while (!m_stop.load(std::memory_order_relaxed)) {
        m_condition.wait_for(writing, std::chrono::milliseconds(kWaitMilliseconds), [this] {
            return m_stop.load(std::memory_order_relaxed) ||
                   m_wakeRequested.exchange(false, std::memory_order_relaxed);
        });
        ring.DrainLocked();
    }
    // The last touch of shared state: Stop may free the ring once it sees this.
    m_exited.store(true, std::memory_order_release);
}

void TraceWriter::Wake()
{
    // A child of fork has no writer thread until its ring first runs short of room.
    if (m_relaunchInChild.load(std::memory_order_relaxed) && m_relaunchInChild.exchange(false)) LaunchThread();
    m_wakeRequested.store(true, std::memory_order_relaxed);
    m_condition.notify_all();
}

bool TraceWriter::IsBuffered(const void* output)
{
    std::lock_guard<std::mutex> writing(m_writerLock);
    const TraceRingBuffer& ring = TraceRingBuffer::Process();
    return ring.Exists() && ring.SinkLocked().output == output;
}

void TraceWriter::Flush()
{
    std::lock_guard<std::mutex> writing(m_writerLock);
    TraceRingBuffer::Process().DrainLocked();
    m_condition.notify_all();
}

void TraceWriter::Stop(const void* output)
{
    std::lock_guard<std::mutex> switching(m_switchLock);
    TraceRingBuffer& ring = TraceRingBuffer::Process();
    {
        std::lock_guard<std::mutex> writing(m_writerLock);
        if (!ring.Exists() || ring.SinkLocked().output != output) return;
        ring.CloseAndDrainLocked();
        // Producers that found the ring closed wait for the writer lock before
        // writing directly, so their lines follow every line of the ring.
        ring.SinkLocked().bufferingFlag->store(false, std::memory_order_release);
        m_stop.store(true, std::memory_order_relaxed);
        m_condition.notify_all();
    }
    while (ThreadRunning()) SleepMilliseconds(5);
    std::lock_guard<std::mutex> writing(m_writerLock);
    ring.FreeLocked();
}

void TraceWriter::DrainAtExit()
{
    // The logger is never destroyed, so the buffered output outlives exit:
    // every accepted line is written, buffered mode ends, and lines that
    // threads still log during exit are written directly.
    TraceWriter& writer = Process();
    const void* output = nullptr;
    {
        std::lock_guard<std::mutex> writing(writer.m_writerLock);
        output = TraceRingBuffer::Process().SinkLocked().output;
    }
    if (output) writer.Stop(output);
}

void TraceWriter::PrepareFork()
{
    m_switchLock.lock();
    m_writerLock.lock();
}

void TraceWriter::ParentAfterFork()
{
    m_writerLock.unlock();
    m_switchLock.unlock();
}

void TraceWriter::ChildAfterFork()
{
    m_writerLock.unlock();
    m_switchLock.unlock();
    // The writer thread was not copied into the child; starting a thread in
    // this handler is not safe, so the child's first wake-up starts one.
    m_exited.store(true, std::memory_order_release);
    if (TraceRingBuffer::Process().Exists() && !m_stop.load()) m_relaunchInChild.store(true);
}

}  // namespace krerrlog
