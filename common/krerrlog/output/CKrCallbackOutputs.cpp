#include <krerrlog/output/CKrCallbackOutputs.h>

#include <krerrlog/message/CKrErrLogMessage.h>

// ---- CKrSyncCallbackOutput ----

CKrSyncCallbackOutput::CKrSyncCallbackOutput() : m_pCallback(nullptr) { SetType(KR_OUTPUT_SYNC_CALLBACK); }

bool CKrSyncCallbackOutput::SetParams(KrSyncLogCallback callback)
{
    m_pCallback = callback;
    return true;
}

bool CKrSyncCallbackOutput::Open() { return true; }

bool CKrSyncCallbackOutput::Log(CKrErrLogMessage& message)
{
    if (!m_pCallback) return CountDelivery(false, 0);
    const char* text = message.GetBuffer();
    m_pCallback(text, message.GetBufferLen());
    return CountDelivery(true, message.GetBufferLen());
}

bool CKrSyncCallbackOutput::Close()
{
    m_pCallback = nullptr;
    return true;
}

// ---- CKrAsyncCallbackOutput ----

CKrAsyncCallbackOutput::CKrAsyncCallbackOutput() : m_pCallback(nullptr) { SetType(KR_OUTPUT_ASYNC_CALLBACK); }

bool CKrAsyncCallbackOutput::SetParams(KrAsyncLogCallback callback)
{
    m_pCallback = callback;
    return true;
}

bool CKrAsyncCallbackOutput::Open() { return true; }

bool CKrAsyncCallbackOutput::Log(CKrErrLogMessage& message)
{
    if (!m_pCallback) return CountDelivery(false, 0);
    const char* text = message.GetBuffer();
    m_pCallback(text, message.GetBufferLen(), &CKrErrLogMessage::FreeBuffer);
    return CountDelivery(true, message.GetBufferLen());
}

bool CKrAsyncCallbackOutput::Close() { return true; }
bool CKrAsyncCallbackOutput::IsAsync() { return true; }

// ---- CKrSyncParameterizedCallbackOutput ----

CKrSyncParameterizedCallbackOutput::CKrSyncParameterizedCallbackOutput()
    : m_pCallback(nullptr), m_pUserParameter(nullptr)
{
    SetType(KR_OUTPUT_SYNC_PARAM_CALLBACK);
}

bool CKrSyncParameterizedCallbackOutput::SetParams(KrSyncParamLogCallback callback, void* userParameter)
{
    m_pCallback = callback;
    m_pUserParameter = userParameter;
    return true;
}

bool CKrSyncParameterizedCallbackOutput::Open()
{
    if (!m_pCallback || !m_pUserParameter) {
        SetReturnCode(KR_RC_SYNC_PARAM_MISSING);
        return false;
    }
    return true;
}

bool CKrSyncParameterizedCallbackOutput::Log(CKrErrLogMessage& message)
{
    if (!m_pUserParameter || !m_pCallback) return CountDelivery(false, 0);
    const char* text = message.GetBuffer();
    m_pCallback(text, message.GetBufferLen(), m_pUserParameter);
    return CountDelivery(true, message.GetBufferLen());
}

bool CKrSyncParameterizedCallbackOutput::Close()
{
    m_pCallback = nullptr;
    m_pUserParameter = nullptr;
    return true;
}

// ---- CKrAsyncParameterizedCallbackOutput ----

CKrAsyncParameterizedCallbackOutput::CKrAsyncParameterizedCallbackOutput()
    : m_pCallback(nullptr), m_pUserParameter(nullptr)
{
    SetType(KR_OUTPUT_ASYNC_PARAM_CALLBACK);
}

bool CKrAsyncParameterizedCallbackOutput::SetParams(KrAsyncParamLogCallback callback, void* userParameter)
{
    m_pCallback = callback;
    m_pUserParameter = userParameter;
    return true;
}

bool CKrAsyncParameterizedCallbackOutput::Open()
{
    if (!m_pCallback || !m_pUserParameter) {
        SetReturnCode(KR_RC_ASYNC_PARAM_MISSING);
        return false;
    }
    return true;
}

bool CKrAsyncParameterizedCallbackOutput::Log(CKrErrLogMessage& message)
{
    if (!m_pCallback) return CountDelivery(false, 0);
    const char* text = message.GetBuffer();
    m_pCallback(text, message.GetBufferLen(), &CKrErrLogMessage::FreeBuffer, m_pUserParameter);
    return CountDelivery(true, message.GetBufferLen());
}

bool CKrAsyncParameterizedCallbackOutput::Close() { return true; }
bool CKrAsyncParameterizedCallbackOutput::IsAsync() { return true; }
