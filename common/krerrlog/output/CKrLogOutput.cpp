// The output base: defaults of the virtual operations and the delivery counts.
#include <krerrlog/output/CKrLogOutput.h>

#include <ctime>

CKrLogOutput::CKrLogOutput()
    : m_iMessageCount(0), m_iBytesSinceRollover(0), m_iType(0), m_iReturnCode(0), m_iLinesDelivered(0),
      m_iBytesDelivered(0), m_iLinesFailed(0), m_iLastFailure(0), m_iCountingSince(std::time(nullptr))
{
}

CKrLogOutput::~CKrLogOutput() = default;

// Defaults for the operations most outputs do not need.
bool CKrLogOutput::Flush() { return true; }
void CKrLogOutput::EnableBuffering(bool) {}
void CKrLogOutput::DeleteRingBuffer() {}
char* CKrLogOutput::EnableMemoryLogging() { return nullptr; }
void CKrLogOutput::DisableMemoryLogging() {}
bool CKrLogOutput::IsBufferingEnabled() { return false; }
bool CKrLogOutput::IsBufferingSupported() { return false; }
void CKrLogOutput::LaunchTraceWriterThread() {}
void CKrLogOutput::SetHeaders(CKrErrLogMessage&, CKrErrLogMessage&) {}
bool CKrLogOutput::IsAsync() { return false; }
void CKrLogOutput::DumpTrace() {}
int CKrLogOutput::GetMemorySizeUsed() { return 0; }

bool CKrLogOutput::CountDelivery(bool delivered, long long bytes)
{
    if (delivered) {
        m_iLinesDelivered.fetch_add(1, std::memory_order_relaxed);
        if (bytes > 0) m_iBytesDelivered.fetch_add(static_cast<uint64_t>(bytes), std::memory_order_relaxed);
    } else {
        m_iLinesFailed.fetch_add(1, std::memory_order_relaxed);
        m_iLastFailure.store(std::time(nullptr), std::memory_order_relaxed);
    }
    return delivered;
}

KrDeliveryCounts CKrLogOutput::GetDeliveryCounts() const
{
    KrDeliveryCounts counts{};
    counts.linesDelivered = m_iLinesDelivered.load(std::memory_order_relaxed);
    counts.bytesDelivered = m_iBytesDelivered.load(std::memory_order_relaxed);
    counts.linesFailed = m_iLinesFailed.load(std::memory_order_relaxed);
    counts.countingSince = m_iCountingSince;
    counts.lastFailure = m_iLastFailure.load(std::memory_order_relaxed);
    return counts;
}
