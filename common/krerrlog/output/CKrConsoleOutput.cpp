#include <krerrlog/output/CKrConsoleOutput.h>

#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/internal/KrConsoleManager.h>
#include <krerrlog/support/internal/KrFileOps.h>

using krerrlog::CKrConsoleManager;

CKrConsoleOutput::CKrConsoleOutput() : m_console(CKrConsoleManager::kNoConsole) { SetType(KR_OUTPUT_CONSOLE); }

CKrConsoleOutput::~CKrConsoleOutput() = default;

bool CKrConsoleOutput::SetParams() { return true; }

bool CKrConsoleOutput::Open()
{
    if (m_console != CKrConsoleManager::kNoConsole) {
        SetReturnCode(KR_RC_CONSOLE_OPEN_FAILED);
        return false;
    }
    m_console = CKrConsoleManager::Instance().Acquire();
    if (m_console == CKrConsoleManager::kNoConsole) {
        SetReturnCode(KR_RC_CONSOLE_OPEN_FAILED);
        return false;
    }
    return true;
}

bool CKrConsoleOutput::Log(CKrErrLogMessage& message)
{
    if (m_console == CKrConsoleManager::kNoConsole) return CountDelivery(false, 0);
    const char* text = message.GetBuffer();  // NUL-terminated at its length
    const int length = message.GetBufferLen();
    if (length <= 0) return CountDelivery(true, 0);
    const std::ptrdiff_t written = krerrlog::FileWrite(m_console, text, static_cast<size_t>(length));
    return CountDelivery(written >= length, length);
}

bool CKrConsoleOutput::Close()
{
    if (m_console == CKrConsoleManager::kNoConsole) return false;
    CKrConsoleManager::Instance().Release();
    m_console = CKrConsoleManager::kNoConsole;
    return true;
}
