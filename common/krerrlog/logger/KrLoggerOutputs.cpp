// Making outputs, attaching them to the error and audit logs, and logging.
#include <krerrlog/logger/CKrLogger.h>

#include <krerrlog/logger/internal/KrNestedLogGuard.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/CKrCallbackOutputs.h>
#include <krerrlog/output/CKrConsoleOutput.h>
#include <krerrlog/output/CKrFileOutput.h>

#include <new>

namespace {

// Hands the output its parameters; an output that refuses them, or for which
// there is no memory, is not kept.
template <typename Output, typename... Params>
CKrLogOutput* MadeWith(Params... params)
{
    Output* output = new (std::nothrow) Output;
    if (!output) return nullptr;
    if (!output->SetParams(params...)) {
        delete output;
        return nullptr;
    }
    return output;
}

// Replaces the output held in slot: the old one is closed and deleted first,
// then the new one is kept only if it opens.
bool Install(CKrLogOutput*& slot, CKrLogOutput* output)
{
    // A null output, or the one already attached, is refused and changes
    // nothing: the attached output goes on logging and is never deleted twice.
    if (!output || output == slot) return false;
    if (slot) {
        slot->Close();
        delete slot;
        slot = nullptr;
    }
    if (!output->Open()) return false;
    slot = output;
    return true;
}

void Remove(CKrLogOutput*& slot)
{
    if (!slot) return;
    slot->Close();
    delete slot;
    slot = nullptr;
}

}  // namespace

CKrLogOutput* CKrLogger::NewLogOutput(int) { return MadeWith<CKrConsoleOutput>(); }

CKrLogOutput* CKrLogger::NewLogOutput(int, const char* fileName, int openMode, int maxSizeMB, int backupCount)
{
    return MadeWith<CKrFileOutput>(fileName, openMode, maxSizeMB, backupCount);
}

CKrLogOutput* CKrLogger::NewLogOutput(int, const char* fileName, int openMode, int maxSizeMB, int backupCount,
                                      int ringBufferMB)
{
    return MadeWith<CKrFileOutput>(fileName, openMode, maxSizeMB, backupCount, ringBufferMB);
}

CKrLogOutput* CKrLogger::NewLogOutput(int, KrSyncLogCallback callback)
{
    return MadeWith<CKrSyncCallbackOutput>(callback);
}

CKrLogOutput* CKrLogger::NewLogOutput(int, KrAsyncLogCallback callback)
{
    return MadeWith<CKrAsyncCallbackOutput>(callback);
}

CKrLogOutput* CKrLogger::NewLogOutput(int, KrSyncParamLogCallback callback, void* userParameter)
{
    return MadeWith<CKrSyncParameterizedCallbackOutput>(callback, userParameter);
}

CKrLogOutput* CKrLogger::NewLogOutput(int, KrAsyncParamLogCallback callback, void* userParameter)
{
    return MadeWith<CKrAsyncParameterizedCallbackOutput>(callback, userParameter);
}

void CKrLogger::DeleteLogOutput(CKrLogOutput* output) { delete output; }

// The writer paths refuse a thread that is inside the same log's reader side
// (an output's callback): its write hold would wait for its own read hold.
bool CKrLogger::SetLogOutput(CKrLogOutput* output)
{
    if (krerrlog::NestedReadRecord::ThreadReadsUnder(&m_logGuard)) return false;
    CKrErrLogAutoWriter hold(&m_logGuard);
    return SetLogOutput_Unlocked(output);
}

bool CKrLogger::SetLogOutput_Unlocked(CKrLogOutput* output) { return Install(m_pLogOutput, output); }

bool CKrLogger::EnableAuditLogRollover(CKrLogOutput* output)
{
    if (krerrlog::NestedReadRecord::ThreadReadsUnder(&m_auditGuard)) return false;
    CKrErrLogAutoWriter hold(&m_auditGuard);
    return Install(m_pAuditOutput, output);
}

void CKrLogger::DisableLog()
{
    if (krerrlog::NestedReadRecord::ThreadReadsUnder(&m_logGuard)) return;
    CKrErrLogAutoWriter hold(&m_logGuard);
    Remove(m_pLogOutput);
}

void CKrLogger::DisableAuditLog()
{
    if (krerrlog::NestedReadRecord::ThreadReadsUnder(&m_auditGuard)) return;
    CKrErrLogAutoWriter hold(&m_auditGuard);
    Remove(m_pAuditOutput);
}

// A line logged from inside an output of the same log (a callback that logs)
// reads under the hold its caller already has; see KrNestedLogGuard.h.
bool CKrLogger::LogErrMsg(CKrErrLogMessage& message)
{
    krerrlog::NestedReadHold<CKrErrLogGuard> hold(m_logGuard);
    if (!hold.Admitted() || !m_bInited || !m_pLogOutput) return false;
    return m_pLogOutput->Log(message);
}

bool CKrLogger::LogAuditMsg(CKrErrLogMessage& message)
{
    krerrlog::NestedReadHold<CKrErrLogGuard> hold(m_auditGuard);
    if (!hold.Admitted() || !m_bInited || !m_pAuditOutput) return false;
    return m_pAuditOutput->Log(message);
}

bool CKrLogger::GetLogDeliveryCounts(KrDeliveryCounts& counts)
{
    CKrErrLogAutoReader hold(&m_logGuard);
    if (!m_pLogOutput) return false;
    counts = m_pLogOutput->GetDeliveryCounts();
    return true;
}

bool CKrLogger::GetAuditDeliveryCounts(KrDeliveryCounts& counts)
{
    CKrErrLogAutoReader hold(&m_auditGuard);
    if (!m_pAuditOutput) return false;
    counts = m_pAuditOutput->GetDeliveryCounts();
    return true;
}

void CKrLogger::ShutDownOutputsLocked()
{
    // As DisableAuditLog, DisableInMemoryTrace, DisableLog and DisableTrace(false)
    // would, in that order, without taking their guards again.
    Remove(m_pAuditOutput);
    DisableInMemoryTraceLocked();
    Remove(m_pLogOutput);
    DisableTraceLocked(false);
}
