// Writes each message to the process's console (standard output).
#pragma once

#include <krerrlog/output/CKrLogOutput.h>

class KRERRLOG_API CKrConsoleOutput : public CKrLogOutput {
public:
    CKrConsoleOutput();
    // Keeps its hold on the console when destroyed open, as the console manager expects.
    ~CKrConsoleOutput() override;

    bool Open() override;
    bool Log(CKrErrLogMessage& message) override;
    bool Close() override;
    virtual bool SetParams();

private:
    int m_console;  // descriptor while open, -1 while closed
};
