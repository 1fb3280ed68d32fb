#include <krerrlog/output/CKrInMemoryOutput.h>

#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/internal/KrInMemoryDump.h>
#include <krerrlog/output/internal/KrInMemoryTraceArea.h>

using krerrlog::InMemoryTraceArea;

CKrInMemoryOutput::CKrInMemoryOutput() : m_pMemory(nullptr), m_iMemorySize(0), m_iAreaShare(0)
{
    SetType(KR_OUTPUT_IN_MEMORY);
}

CKrInMemoryOutput::~CKrInMemoryOutput()
{
    InMemoryTraceArea::Process().Release(m_iAreaShare);
}

bool CKrInMemoryOutput::SetParams(int memorySizeMB)
{
    int megabytes = memorySizeMB;
    const bool outOfRange = megabytes < 1 || megabytes > krerrlog::kLargestTraceAreaMegabytes;
    if (outOfRange) megabytes = krerrlog::kDefaultTraceAreaMegabytes;
    const uint64_t capacity = static_cast<uint64_t>(megabytes) * krerrlog::kBytesPerTraceMegabyte;
    if (!InMemoryTraceArea::Process().Configure(capacity)) return false;
    if (outOfRange) SetReturnCode(KR_RC_MEMORY_SIZE_ADJUSTED);
    return true;
}

char* CKrInMemoryOutput::EnableMemoryLogging()
{
    InMemoryTraceArea& area = InMemoryTraceArea::Process();
    bool fellBack = false;
    char* memory = area.Enable(fellBack, m_iAreaShare);
    if (!memory) return nullptr;
    if (fellBack) SetReturnCode(KR_RC_MEMORY_SIZE_ADJUSTED);
    m_pMemory = memory;
    m_iMemorySize = static_cast<int>(area.Capacity() / krerrlog::kBytesPerTraceMegabyte);
    return memory;
}

void CKrInMemoryOutput::DisableMemoryLogging()
{
    InMemoryTraceArea::Process().Disable();
    m_pMemory = nullptr;
}

bool CKrInMemoryOutput::Open()
{
    if (EnableMemoryLogging()) return true;
    SetReturnCode(KR_RC_NO_TRACE_MEMORY);
    return false;
}

bool CKrInMemoryOutput::Close()
{
    if (!m_pMemory) return false;
    DisableMemoryLogging();
    return true;
}

bool CKrInMemoryOutput::Log(CKrErrLogMessage& message)
{
    // The area itself is checked in the store, under its lock: a Close on
    // another thread may withdraw it at any moment.
    const char* text = message.GetBuffer();  // NUL-terminated at its length
    return CountDelivery(Log(text, message.GetBufferLen()), message.GetBufferLen());
}

bool CKrInMemoryOutput::Log(const char* text, int length) { return InMemoryTraceArea::Process().Store(text, length); }

void CKrInMemoryOutput::SetHeaders(CKrErrLogMessage& first, CKrErrLogMessage& second)
{
    const int firstLength = first.GetBufferLen();
    const int secondLength = second.GetBufferLen();
    if (firstLength < 1 || secondLength < 1) return;
    InMemoryTraceArea::Process().SetHeaders(first.GetBuffer(), static_cast<size_t>(firstLength),
                                            second.GetBuffer(), static_cast<size_t>(secondLength));
}

void CKrInMemoryOutput::SetInMemoryTraceFilePath(const char* path) { InMemoryTraceArea::Process().SetDumpPrefix(path); }

char* CKrInMemoryOutput::GetInMemoryTraceFilePath() { return InMemoryTraceArea::Process().DumpPrefix(); }

void CKrInMemoryOutput::DumpTrace() { krerrlog::WriteInMemoryTrace(krerrlog::kDumpOnRequest); }

int CKrInMemoryOutput::GetMemorySizeUsed() { return m_iMemorySize; }
