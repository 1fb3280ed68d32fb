// The advisory lock that serialises roll-overs of one log file between the
// processes that write it: an exclusive advisory lock on the log file itself
// (KrPlatformFileLock.h), held through a descriptor of its own (opened anew,
// so that a process forked from this one, which shares the output's
// descriptor, still contends for it), so that it stays held while the output closes the file, moves it aside and
// opens the next one.
//
// Every process that may roll the file over holds a descriptor of that same
// file, so they all contend for the same lock; the one that comes second finds
// the path naming a new file and only reopens it. Other processes' plain
// writes are not held off: the lock orders roll-overs, not lines.
#pragma once

namespace krerrlog {

class CrossProcessRollover {
public:
    // Waits up to about two seconds for the lock (a process stopped while it
    // holds it must not stop this one's roll-overs for ever).
    explicit CrossProcessRollover(int fd);
    ~CrossProcessRollover();
    CrossProcessRollover(const CrossProcessRollover&) = delete;
    CrossProcessRollover& operator=(const CrossProcessRollover&) = delete;

    // True when the roll-over may go on: the lock is held, or the file system
    // keeps no such locks (then nothing can be waited for). False after the wait.
    bool MayRollOver() const { return m_mayRollOver; }

private:
    int m_fd;
    bool m_held;
    bool m_mayRollOver;
};

}  // namespace krerrlog
