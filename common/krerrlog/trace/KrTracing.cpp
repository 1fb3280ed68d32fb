#include <krerrlog/trace/KrTracing.h>

bool KrTracing::BeginEx() { return m_bEnabled = m_bInMemEnabled = false; }
bool KrTracing::BeginExWobj(CKrTraceData&) { return BeginEx(); }
bool KrTracing::TraceLogBegin() { return BeginEx(); }
void KrTracing::AddComp(unsigned int) {}
bool KrTracing::LastComp(unsigned int, const char*) { return false; }
void KrTracing::SetData(unsigned int, int) {}
void KrTracing::SetData(unsigned int, long) {}
void KrTracing::SetData(unsigned int, long long) {}
void KrTracing::SetData(unsigned int, unsigned int) {}
void KrTracing::SetData(unsigned int, unsigned long) {}
void KrTracing::SetData(unsigned int, unsigned long long) {}
void KrTracing::SetData(unsigned int, bool) {}
void KrTracing::SetData(unsigned int, const char*) {}
void KrTracing::SetMsgVA(const char*, int, const char**) {}
void KrTracing::Done(const char*, int) {}
void KrTracing::DoneEx(const char*, int) {}
CKrTraceSupresser::CKrTraceSupresser() {}
CKrTraceSupresser::~CKrTraceSupresser() {}
bool CKrTraceSupresser::isTracing() { return true; }
void CKrTraceSupresser::setTracing(bool) {}
void* CKrRequestContext::GetRequestContextData() { return nullptr; }
void CKrRequestContext::SetRequestContextData(void*) {}
