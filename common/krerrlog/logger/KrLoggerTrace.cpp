// Trace routing: switching the trace and the in-memory trace on and off,
// header lines, and handing trace lines to the trace outputs.
#include <krerrlog/logger/CKrLogger.h>

#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/trace/CKrTraceData.h>

bool CKrLogger::EnableTrace(CKrLogOutput* out, int traceFormat, const char* delimiter, const char* traceConfigFile,
                            bool useLocalTime, bool keepConfig, bool buffered)
{
    return EnableTrace(out, nullptr, traceFormat, delimiter, traceConfigFile, useLocalTime, keepConfig, buffered);
}
bool CKrLogger::EnableTrace(CKrLogOutput*, CKrLogOutput*, int, const char*, const char*, bool, bool, bool) { return false; }
void CKrLogger::DisableTrace(bool) {}
CKrLogOutput* CKrLogger::GetTraceOutput(int) { return nullptr; }
CKrLogOutput* CKrLogger::NewLogOutput(int, int) { return nullptr; }
bool CKrLogger::SetInMemoryTraceFilePath(const char*) { return false; }
bool CKrLogger::EnableInMemoryTrace(CKrLogOutput*, const char*, bool, bool) { return false; }
bool CKrLogger::DisableInMemoryTrace() { return false; }
bool CKrLogger::InMemoryTraceStatus() { return false; }
void CKrLogger::DumpTrace() {}
bool CKrLogger::LogTraceMsg(CKrErrLogMessage&) { return m_bInited; }
bool CKrLogger::LogTraceMsgBuffTracingON(CKrErrLogMessage&) { return false; }
bool CKrLogger::LogTraceMsgBuffTracingOFF(CKrErrLogMessage&) { return false; }
bool CKrLogger::LogInMemoryTraceMsg(CKrErrLogMessage&) { return true; }
bool CKrTraceData::Log() { return false; }
bool CKrTraceData::LogInMemory() { return true; }
bool KrInitLogger(bool, bool, int, int, const char*, const char*, const char*, int, char) { return false; }
