// The trace writer: the process-wide writer lock and writer condition, the
// state of the background thread that drains the ring buffer into the buffered
// file output, and switching buffered writing on and off. Everything that the
// buffered mode shares across the process lives here (and in the ring), so
// that fork handling finds it in one place.
//
// Locks, in the order they are taken:
//   switch lock  one switch on or off at a time (and fork preparation);
//   writer lock  held by whoever drains: the writer thread (except while it
//                waits on the condition), Flush, a switch, the crash flush
//                (with try-lock only). It is taken before the roll-over check
//                lock and the roll-over lock of the file outputs.
// Producers take neither.
//
// Thread state: m_stop asks the thread to end (set under the writer lock and
// the condition notified, so a stop never waits for the 10-second wait to
// end); m_exited is cleared when a thread is started and set by the thread,
// under the writer lock, as the last thing it does with shared state.
#pragma once

#include <krerrlog/output/internal/KrTraceRingBuffer.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace krerrlog {

class TraceWriter {
public:
    static TraceWriter& Process();

    // The writer thread waits this long for a wake-up before it drains anyway.
    static constexpr int kWaitMilliseconds = 10000;

    // Creates the ring for the sink's output and opens it. False, changing
    // nothing, when another output is in buffered mode or the ring cannot be
    // allocated. Sets the output's buffering flag once the ring is open.
    bool Start(const TraceRingSink& sink, uint32_t megabytes);
    // Starts the writer thread for the current ring; false when none could be
    // started.
    bool LaunchThread();
    // Writes every line accepted so far (waiting for copies in progress),
    // clears the output's buffering flag, stops the writer thread, waits for it
    // to end and frees the ring. Does nothing unless `output` is buffered.
    void Stop(const void* output);
    // Drains what is published and wakes the writer thread.
    void Flush();

    // Producers: asks the writer thread to drain now.
    void Wake();

    bool IsBuffered(const void* output);
    bool ThreadRunning() const { return !m_exited.load(std::memory_order_acquire); }
    std::mutex& WriterLock() { return m_writerLock; }

    // Fork (registered with the fork-safe lock registry): the forking thread
    // holds the switch and writer locks across fork() so the child never
    // inherits them taken by a thread it does not have; the child, which has
    // no writer thread, starts one at its first wake-up if buffered mode is on
    // (Flush and the exit drain work without one).
    void PrepareFork();
    void ParentAfterFork();
    void ChildAfterFork();

private:
    TraceWriter() = default;
    ~TraceWriter() = delete;

    static void ThreadMain(void* writer);
    void Run();
    // Drains, then lets a normal exit write what is left (registered once).
    static void DrainAtExit();

    // Taken in this order when both are held (Start, Stop, fork). Plain
    // std::mutex, not yet under the lock checks: the holds live in
    // KrTraceWriterThread.cpp and KrTraceRingBuffer.cpp (DrainLocked needs m_writerLock).
    std::mutex m_switchLock;
    std::mutex m_writerLock;
    std::condition_variable m_condition;
    // m_stop and m_wakeRequested are read relaxed inside the condition wait,
    // under m_writerLock, which orders them; a wake-up missed by the relaxed
    // store in Wake costs at most one wait period. m_exited is release/acquire:
    // whoever sees it set sees the thread's last touch of the ring. The other
    // two are set once per start or fork (seq_cst, no ordering argued).
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_exited{true};
    std::atomic<bool> m_wakeRequested{false};
    std::atomic<bool> m_exitHandlerRegistered{false};
    std::atomic<bool> m_relaunchInChild{false};
};

// Starts fn(argument) on a new detached thread through a start record that the
// thread frees; the thread sleeps until startEpochMs (0: at once) and swallows
// any exception fn throws. False when no thread could be started.
bool StartDetachedThread(void (*fn)(void*), void* argument, long long startEpochMs);

}  // namespace krerrlog
