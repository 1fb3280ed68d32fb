// Outputs that hand each message to a function of the host. The text passed is
// the message's own NUL-terminated buffer; a receiver that keeps it must copy it.
// Without a callback (never set, or cleared by Close) Log calls nothing and
// returns false.
#pragma once

#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/output/CKrLogOutput.h>

// callback(text, length). Close clears the callback.
class KRERRLOG_API CKrSyncCallbackOutput : public CKrLogOutput {
public:
    CKrSyncCallbackOutput();
    bool Open() override;
    bool Log(CKrErrLogMessage& message) override;
    bool Close() override;
    virtual bool SetParams(KrSyncLogCallback callback);

private:
    KrSyncLogCallback m_pCallback;
};

// callback(text, length, release function); goes on delivering after Close.
class KRERRLOG_API CKrAsyncCallbackOutput : public CKrLogOutput {
public:
    CKrAsyncCallbackOutput();
    bool Open() override;
    bool Log(CKrErrLogMessage& message) override;
    bool Close() override;
    bool IsAsync() override;
    virtual bool SetParams(KrAsyncLogCallback callback);

private:
    KrAsyncLogCallback m_pCallback;
};

// callback(text, length, user parameter); Open needs both. Close clears both.
class KRERRLOG_API CKrSyncParameterizedCallbackOutput : public CKrLogOutput {
public:
    CKrSyncParameterizedCallbackOutput();
    bool Open() override;
    bool Log(CKrErrLogMessage& message) override;
    bool Close() override;
    virtual bool SetParams(KrSyncParamLogCallback callback, void* userParameter);

private:
    KrSyncParamLogCallback m_pCallback;
    void* m_pUserParameter;
};

// callback(text, length, release function, user parameter); Open needs both;
// goes on delivering after Close.
class KRERRLOG_API CKrAsyncParameterizedCallbackOutput : public CKrLogOutput {
public:
    CKrAsyncParameterizedCallbackOutput();
    bool Open() override;
    bool Log(CKrErrLogMessage& message) override;
    bool Close() override;
    bool IsAsync() override;
    virtual bool SetParams(KrAsyncParamLogCallback callback, void* userParameter);

private:
    KrAsyncParamLogCallback m_pCallback;
    void* m_pUserParameter;
};
