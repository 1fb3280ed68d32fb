// An output that records what the logger does with it, and catches any Log
// after its Close or during its deletion.
#pragma once

#include <krerrlog/output/CKrLogOutput.h>

#include <atomic>

struct ProbeLog {
    std::atomic<int> opened{0}, closed{0}, deleted{0}, alive{0};
    std::atomic<long> logged{0}, misuse{0};
};

class ProbeOutput : public CKrLogOutput {
public:
    explicit ProbeOutput(ProbeLog& log, bool opens = true) : m_log(log), m_bOpens(opens) { m_log.alive.fetch_add(1); }
    ~ProbeOutput() override
    {
        m_bGone = true;
        m_log.deleted.fetch_add(1);
        m_log.alive.fetch_sub(1);
    }
    bool Open() override
    {
        m_log.opened.fetch_add(1);
        return m_bOpens;
    }
    bool Log(CKrErrLogMessage&) override
    {
        if (m_bClosed || m_bGone) m_log.misuse.fetch_add(1);
        m_log.logged.fetch_add(1);
        return true;
    }
    bool Close() override
    {
        m_bClosed = true;
        m_log.closed.fetch_add(1);
        return true;
    }

private:
    ProbeLog& m_log;
    bool m_bOpens;
    std::atomic<bool> m_bClosed{false}, m_bGone{false};
};
