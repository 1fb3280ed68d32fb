// The logger's trace decisions: availability, verdicts per component, and the
// hand-out of the calling thread's records.
#include <krerrlog/logger/CKrLogger.h>

#include <krerrlog/trace/CKrTraceData.h>

bool CKrLogger::TraceEnabled(unsigned int) { return false; }
bool CKrLogger::InMemoryTraceEnabled(unsigned int) { return false; }
bool CKrLogger::FieldTraced(unsigned int) { return false; }
bool CKrLogger::FieldTracedInMemory(unsigned int) { return false; }
bool CKrLogger::ShouldTrace(unsigned int, CKrTraceData*) { return false; }
bool CKrLogger::ShouldInMemoryTrace(unsigned int, CKrTraceData*) { return false; }
bool CKrLogger::TraceAlloc(CKrTraceData**) { return false; }
bool CKrLogger::InMemoryTraceAlloc(CKrTraceData**) { return false; }
bool CKrLogger::ShouldTraceAlloc(unsigned int, CKrTraceData**) { return false; }
bool CKrLogger::ShouldInMemoryTraceAlloc(unsigned int, CKrTraceData**) { return false; }
CKrTraceData* CKrLogger::GetLocalKrTraceData() { return nullptr; }
CKrTraceData* CKrLogger::GetLocalInMemoryKrTraceData() { return nullptr; }
