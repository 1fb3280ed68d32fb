// The logger's outputs: making them, attaching them to the error and audit
// logs, replacing and removing them, and logging through them.
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/CKrCallbackOutputs.h>
#include <krerrlog/output/CKrConsoleOutput.h>
#include <krerrlog/output/CKrFileOutput.h>

#include "logger/ProbeOutput.h"
#include "testsupport/LoggerTestPeer.h"
#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

void SyncCallback(const char*, int) {}
void AsyncCallback(const char*, int, void (*)(char*)) {}
void SyncParamCallback(const char*, int, void*) {}
void AsyncParamCallback(const char*, int, void (*)(char*), void*) {}

class LoggerOutputs : public ::testing::Test {
protected:
    std::unique_ptr<CKrLogger> logger{CKrLoggerTestPeer::Create()};
    CKrErrLogMessage message{false};
    void SetUp() override { message.FormatLogProlog("LoggerOutputsTest.cpp", 1, 0); }
};

TEST_F(LoggerOutputs, EachOverloadMakesItsOutputType)
{
    int parameter = 0;
    krtest::ScratchDir dir;
    const std::string name = dir.File("made.log");
    CKrLogOutput* made[] = {
        logger->NewLogOutput(9),
        logger->NewLogOutput(9, name.c_str(), 3, 1, 2),
        logger->NewLogOutput(9, &SyncCallback),
        logger->NewLogOutput(9, &AsyncCallback),
        logger->NewLogOutput(9, &SyncParamCallback, &parameter),
        logger->NewLogOutput(9, &AsyncParamCallback, &parameter),
    };
    for (int type = 0; type < 6; ++type) {
        std::unique_ptr<CKrLogOutput> output(made[type]);
        ASSERT_NE(output, nullptr) << type;
        EXPECT_EQ(output->GetType(), type);
    }
    std::unique_ptr<CKrLogOutput> withRing(logger->NewLogOutput(0, name.c_str(), 1, 1, 2, 32));
    ASSERT_NE(withRing, nullptr);
    EXPECT_EQ(static_cast<CKrFileOutput*>(withRing.get())->GetSizeOfRingBuffer(), 32u);
    EXPECT_TRUE(dir.List().empty()) << "making an output opens nothing";
}

TEST_F(LoggerOutputs, RefusedFileParametersGiveNullAndCreateNothing)
{
    krtest::ScratchDir dir;
    const std::string name = dir.File("refused.log");
    struct Params {
        const char* name;
        int mode, limit, backups;
    } refused[] = {{name.c_str(), 5, 1, 1}, {name.c_str(), -1, 1, 1}, {name.c_str(), 3, -1, 1},
                   {name.c_str(), 3, 1, -1}, {nullptr, 3, 1, 1},      {"", 3, 1, 1}};
    for (const Params& p : refused) EXPECT_EQ(logger->NewLogOutput(0, p.name, p.mode, p.limit, p.backups), nullptr);
    EXPECT_EQ(logger->NewLogOutput(0, name.c_str(), 5, 1, 1, 8), nullptr);
    EXPECT_TRUE(dir.List().empty());
    logger->DeleteLogOutput(nullptr);  // nothing to delete
}

// The error log and the audit log manage their outputs alike, each its own.
struct LogChannel {
    const char* name;
    bool (CKrLogger::*attach)(CKrLogOutput*);
    void (CKrLogger::*disable)();
    bool (CKrLogger::*log)(CKrErrLogMessage&);
    bool (CKrLogger::*otherLog)(CKrErrLogMessage&);
};

TEST_F(LoggerOutputs, EachLogAttachesReplacesRefusesAndDisablesItsOwnOutput)
{
    for (const LogChannel& c : {LogChannel{"error", &CKrLogger::SetLogOutput, &CKrLogger::DisableLog,
                                           &CKrLogger::LogErrMsg, &CKrLogger::LogAuditMsg},
                                LogChannel{"audit", &CKrLogger::EnableAuditLogRollover, &CKrLogger::DisableAuditLog,
                                           &CKrLogger::LogAuditMsg, &CKrLogger::LogErrMsg}}) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<CKrLogger> own(CKrLoggerTestPeer::Create());
        CKrLogger& log = *own;
        EXPECT_FALSE((log.*c.log)(message)) << "no output yet";
        ProbeLog first;
        ProbeOutput* firstOutput = new ProbeOutput(first);
        ASSERT_TRUE((log.*c.attach)(firstOutput));
        EXPECT_FALSE((log.*c.attach)(nullptr));
        EXPECT_FALSE((log.*c.attach)(firstOutput)) << "the attached output again";
        EXPECT_EQ(first.opened.load(), 1);
        EXPECT_EQ(first.closed.load() + first.deleted.load(), 0) << "refusals change nothing";
        EXPECT_TRUE((log.*c.log)(message));
        EXPECT_FALSE((log.*c.otherLog)(message)) << "the other log has its own output";
        EXPECT_EQ(first.logged.load(), 1);

        ProbeLog second;
        ASSERT_TRUE((log.*c.attach)(new ProbeOutput(second)));
        EXPECT_EQ(first.closed.load(), 1);
        EXPECT_EQ(first.deleted.load(), 1);
        EXPECT_TRUE((log.*c.log)(message));
        EXPECT_EQ(second.logged.load(), 1);
        EXPECT_EQ(first.logged.load(), 1);

        (log.*c.disable)();
        EXPECT_EQ(second.closed.load(), 1);
        EXPECT_EQ(second.deleted.load(), 1);
        EXPECT_FALSE((log.*c.log)(message));
        (log.*c.disable)();  // nothing attached: nothing happens
        EXPECT_EQ(second.deleted.load(), 1);
    }
}

TEST_F(LoggerOutputs, OutputThatFailsToOpenStaysTheCallers)
{
    ProbeLog attached;
    ASSERT_TRUE(logger->SetLogOutput(new ProbeOutput(attached)));
    ProbeLog failing;
    ProbeOutput* refused = new ProbeOutput(failing, false);
    EXPECT_FALSE(logger->SetLogOutput(refused));
    EXPECT_EQ(attached.deleted.load(), 1) << "the old output went first";
    EXPECT_EQ(logger->GetLogOutput(), nullptr);
    EXPECT_FALSE(logger->LogErrMsg(message));
    EXPECT_EQ(failing.deleted.load(), 0);
    logger->DeleteLogOutput(refused);
    EXPECT_EQ(failing.deleted.load(), 1);
}

TEST_F(LoggerOutputs, ReleaseClosesAndDeletesBothOutputs)
{
    ProbeLog error;
    ProbeLog audit;
    ASSERT_TRUE(logger->SetLogOutput(new ProbeOutput(error)));
    ASSERT_TRUE(logger->EnableAuditLogRollover(new ProbeOutput(audit)));
    CKrLoggerTestPeer::Release(*logger);
    EXPECT_EQ(error.closed.load(), 1);
    EXPECT_EQ(error.deleted.load(), 1);
    EXPECT_EQ(audit.closed.load(), 1);
    EXPECT_EQ(audit.deleted.load(), 1);
    EXPECT_FALSE(logger->LogErrMsg(message));
    EXPECT_FALSE(logger->LogAuditMsg(message));

    // A released logger logs nothing even with an output attached.
    ProbeLog late;
    ASSERT_TRUE(logger->SetLogOutput(new ProbeOutput(late)));
    EXPECT_FALSE(logger->LogErrMsg(message));
    EXPECT_EQ(late.logged.load(), 0);
    logger->DisableLog();
    EXPECT_EQ(late.deleted.load(), 1);
}

TEST_F(LoggerOutputs, ErrorLinesReachTheFileWhole)
{
    krtest::ScratchDir dir;
    const std::string name = dir.File("error.log");
    CKrLogOutput* file = logger->NewLogOutput(0, name.c_str(), 3, 1, 2);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(logger->SetLogOutput(file));
    EXPECT_EQ(krtest::FileMode(name), 0600);
    CKrErrLogMessage line(false);
    line.FormatLogProlog("main.cpp", 120, 0);
    const std::string text = line.GetBuffer();
    EXPECT_TRUE(logger->LogErrMsg(line));
    EXPECT_TRUE(logger->LogErrMsg(line));
    logger->DisableLog();
    EXPECT_EQ(krtest::ReadFile(name), text + text);
}

}  // namespace
