// The output interface, the console output with its manager, and the callback outputs.
#include "OutputTestSupport.h"
#include "testsupport/TestFiles.h"

#include <krerrlog/output/CKrCallbackOutputs.h>
#include <krerrlog/output/CKrConsoleOutput.h>
#include <krerrlog/output/KrConsoleManager.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using krerrlog::CKrConsoleManager;

namespace {

TEST(OutputInterface, OnlyTheAsyncCallbacksAreAsyncAndNoOutputBuffers)
{
    std::unique_ptr<CKrLogOutput> outputs[] = {
        std::make_unique<CKrConsoleOutput>(),
        std::make_unique<CKrFileOutput>(),
        std::make_unique<CKrSyncCallbackOutput>(),
        std::make_unique<CKrAsyncCallbackOutput>(),
        std::make_unique<CKrSyncParameterizedCallbackOutput>(),
        std::make_unique<CKrAsyncParameterizedCallbackOutput>(),
    };
    for (int type = 0; type < 6; ++type) {
        EXPECT_EQ(outputs[type]->IsAsync(), type == 3 || type == 5);
        outputs[type]->EnableBuffering(true);
        EXPECT_FALSE(outputs[type]->IsBufferingEnabled());
    }
}

// ---- Console ----

// Points standard output at a file for the lifetime of the object.
class CapturedStdout {
public:
    explicit CapturedStdout(const std::string& path)
    {
        fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDOUT_FILENO);
        close(fd);
    }
    ~CapturedStdout()
    {
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
    }

private:
    int m_saved;
};

TEST(ConsoleOutput, WritesTheMessageBytesToStandardOutput)
{
    krtest::ScratchDir dir;
    const std::string path = dir.File("stdout.txt");
    {
        CapturedStdout captured(path);
        CKrConsoleOutput console;
        ASSERT_TRUE(console.SetParams());
        ASSERT_TRUE(console.Open());
        CKrErrLogMessage message(false);
        krtest::SetText(message, "first line\n");
        EXPECT_TRUE(console.Log(message));
        krtest::SetText(message, "second\n");
        EXPECT_TRUE(console.Log(message));
        EXPECT_TRUE(console.Close());
        EXPECT_FALSE(console.Log(message)) << "closed console logs nothing";
    }
    EXPECT_EQ(krtest::ReadFile(path), "first line\nsecond\n");
}

TEST(ConsoleOutput, HoldsAreCountedAcrossOutputs)
{
    CKrConsoleManager& manager = CKrConsoleManager::Instance();
    const int before = manager.HoldCount();
    CKrConsoleOutput first;
    CKrConsoleOutput second;
    EXPECT_FALSE(first.Close()) << "never opened";
    EXPECT_EQ(manager.HoldCount(), before);

    ASSERT_TRUE(first.Open());
    EXPECT_FALSE(first.Open()) << "already open";
    EXPECT_EQ(first.GetReturnCode(), 2);
    EXPECT_EQ(manager.HoldCount(), before + 1);

    ASSERT_TRUE(second.Open());
    EXPECT_EQ(manager.HoldCount(), before + 2);
    EXPECT_TRUE(first.Close());
    EXPECT_EQ(manager.HoldCount(), before + 1);
    EXPECT_TRUE(second.Close());
    EXPECT_EQ(manager.HoldCount(), before);
    EXPECT_TRUE(first.Open()) << "the console is taken again after the last hold went";
    EXPECT_TRUE(first.Close());
    EXPECT_EQ(second.GetReturnCode(), 0);
}

TEST(ConsoleOutput, OpenFailsWithoutStandardOutput)
{
    CKrConsoleManager& manager = CKrConsoleManager::Instance();
    ASSERT_EQ(manager.HoldCount(), 0);
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    close(STDOUT_FILENO);
    CKrConsoleOutput console;
    const bool opened = console.Open();
    const int holds = manager.HoldCount();
    dup2(saved, STDOUT_FILENO);
    close(saved);
    EXPECT_FALSE(opened);
    EXPECT_EQ(console.GetReturnCode(), 2);
    EXPECT_EQ(holds, 0);
    EXPECT_TRUE(console.Open()) << "standard output is back";
    EXPECT_TRUE(console.Close());
}

// ---- Callbacks ----

struct Received {
    std::vector<std::string> texts;
    std::vector<const char*> pointers;
    bool terminated = true;
    void Take(const char* text, int length)
    {
        texts.emplace_back(text, static_cast<size_t>(length));
        pointers.push_back(text);
        if (text[length] != '\0') terminated = false;
    }
};

Received g_received;
void* g_lastParameter = nullptr;
void (*g_lastRelease)(char*) = nullptr;

void SyncCallback(const char* text, int length) { g_received.Take(text, length); }
void AsyncCallback(const char* text, int length, void (*release)(char*))
{
    g_received.Take(text, length);
    g_lastRelease = release;
}
void SyncParamCallback(const char* text, int length, void* parameter)
{
    g_received.Take(text, length);
    g_lastParameter = parameter;
}
void AsyncParamCallback(const char* text, int length, void (*release)(char*), void* parameter)
{
    g_received.Take(text, length);
    g_lastRelease = release;
    g_lastParameter = parameter;
}

class CallbackOutputs : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_received = Received{};
        g_lastParameter = nullptr;
        g_lastRelease = nullptr;
        krtest::SetText(message, "hello callback");
    }
    CKrErrLogMessage message{false};
    int parameter = 42;
};

TEST_F(CallbackOutputs, SyncCallbackGetsTheMessagesOwnTerminatedText)
{
    CKrSyncCallbackOutput output;
    EXPECT_FALSE(output.Log(message)) << "no callback yet";
    ASSERT_TRUE(output.SetParams(&SyncCallback));
    ASSERT_TRUE(output.Open());
    EXPECT_TRUE(output.Log(message));
    ASSERT_EQ(g_received.texts.size(), 1u);
    EXPECT_EQ(g_received.texts[0], "hello callback");
    EXPECT_EQ(g_received.pointers[0], message.GetBuffer()) << "no copy";
    EXPECT_TRUE(g_received.terminated);

    EXPECT_TRUE(output.Close());
    EXPECT_FALSE(output.Log(message)) << "Close cleared the callback";
    EXPECT_EQ(g_received.texts.size(), 1u);
    ASSERT_TRUE(output.SetParams(&SyncCallback));
    EXPECT_TRUE(output.Log(message));
    EXPECT_EQ(g_received.texts.size(), 2u);
}

TEST_F(CallbackOutputs, AsyncCallbackKeepsDeliveringAfterClose)
{
    CKrAsyncCallbackOutput output;
    EXPECT_FALSE(output.Log(message)) << "no callback yet";
    ASSERT_TRUE(output.SetParams(&AsyncCallback));
    ASSERT_TRUE(output.Open());
    EXPECT_TRUE(output.Log(message));
    ASSERT_NE(g_lastRelease, nullptr);
    g_lastRelease(const_cast<char*>(g_received.pointers[0]));  // has no effect on the message
    EXPECT_STREQ(message.GetBuffer(), "hello callback");
    EXPECT_TRUE(output.Close());
    EXPECT_TRUE(output.Log(message));
    EXPECT_EQ(g_received.texts.size(), 2u);
    EXPECT_TRUE(g_received.terminated);
}

TEST_F(CallbackOutputs, SyncParameterizedNeedsBothAndForgetsThemOnClose)
{
    CKrSyncParameterizedCallbackOutput missing;
    ASSERT_TRUE(missing.SetParams(&SyncParamCallback, nullptr));
    EXPECT_FALSE(missing.Open());
    EXPECT_EQ(missing.GetReturnCode(), 5);
    EXPECT_FALSE(missing.Log(message));
    EXPECT_TRUE(g_received.texts.empty());

    CKrSyncParameterizedCallbackOutput output;
    ASSERT_TRUE(output.SetParams(&SyncParamCallback, &parameter));
    ASSERT_TRUE(output.Open());
    EXPECT_TRUE(output.Log(message));
    EXPECT_EQ(g_lastParameter, &parameter);
    EXPECT_EQ(g_received.texts.at(0), "hello callback");
    EXPECT_TRUE(output.Close());
    EXPECT_FALSE(output.Log(message));
    EXPECT_EQ(g_received.texts.size(), 1u);
}

TEST_F(CallbackOutputs, AsyncParameterizedNeedsBothAndKeepsThemOnClose)
{
    CKrAsyncParameterizedCallbackOutput noCallback, noParameter;
    noCallback.SetParams(nullptr, &parameter);
    noParameter.SetParams(&AsyncParamCallback, nullptr);
    for (CKrAsyncParameterizedCallbackOutput* incomplete : {&noCallback, &noParameter}) {
        EXPECT_FALSE(incomplete->Open());
        EXPECT_EQ(incomplete->GetReturnCode(), 6);
    }
    EXPECT_FALSE(noCallback.Log(message));
    EXPECT_TRUE(g_received.texts.empty());

    CKrAsyncParameterizedCallbackOutput output;
    ASSERT_TRUE(output.SetParams(&AsyncParamCallback, &parameter));
    ASSERT_TRUE(output.Open());
    EXPECT_TRUE(output.Close());
    EXPECT_TRUE(output.Log(message));
    EXPECT_EQ(g_lastParameter, &parameter);
    EXPECT_EQ(g_lastRelease, &CKrErrLogMessage::FreeBuffer);
    EXPECT_EQ(g_received.texts.at(0), "hello callback");
}

}  // namespace
