#include <krerrlog/output/CKrLogOutput.h>

CKrLogOutput::CKrLogOutput() : m_iMessageCount(0), m_iBytesSinceRollover(0), m_iType(0), m_iReturnCode(0) {}

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
