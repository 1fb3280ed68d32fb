// The console output with its manager, and the callback outputs.
#include "OutputTestSupport.h"

#include <krerrlog/output/CKrCallbackOutputs.h>
#include <krerrlog/output/CKrConsoleOutput.h>
#include <krerrlog/output/internal/KrConsoleManager.h>

#include <fcntl.h>
#include <unistd.h>

using krerrlog::CKrConsoleManager;

namespace {

TEST(ConsoleOutput, OpensOnlyWithStandardOutputAndWritesTheMessageBytes)
{
    ASSERT_EQ(CKrConsoleManager::Instance().HoldCount(), 0);
    krtest::ScratchDir dir;
    CKrConsoleOutput console;
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    close(STDOUT_FILENO);
    const bool openedWithout = console.Open();
    const int holdsWithout = CKrConsoleManager::Instance().HoldCount();
    const int capture = open(dir.File("stdout.txt").c_str(), O_WRONLY | O_CREAT, 0600);
    if (capture != STDOUT_FILENO) dup2(capture, STDOUT_FILENO), close(capture);
    const bool opened = console.Open();
    const bool logged = krtest::LogLine(console, "first line") && krtest::LogLine(console, "second");
    const bool closed = console.Close();
    const bool loggedWhenClosed = krtest::LogLine(console, "third");
    dup2(saved, STDOUT_FILENO);
    close(saved);

    EXPECT_FALSE(openedWithout);
    EXPECT_EQ(console.GetReturnCode(), 2);
    EXPECT_EQ(holdsWithout, 0);
    EXPECT_TRUE(opened && logged && closed);
    EXPECT_FALSE(loggedWhenClosed);
    EXPECT_EQ(krtest::ReadFile(dir.File("stdout.txt")), "first line\nsecond\n");
}

TEST(ConsoleOutput, HoldsAreCountedAcrossOutputs)
{
    CKrConsoleManager& manager = CKrConsoleManager::Instance();
    const int before = manager.HoldCount();
    CKrConsoleOutput first, second;
    EXPECT_FALSE(first.Close()) << "never opened";
    ASSERT_TRUE(first.Open());
    EXPECT_FALSE(first.Open()) << "already open";
    EXPECT_EQ(first.GetReturnCode(), 2);
    ASSERT_TRUE(second.Open());
    EXPECT_EQ(manager.HoldCount(), before + 2);
    EXPECT_TRUE(first.Close());
    EXPECT_EQ(manager.HoldCount(), before + 1);
    EXPECT_TRUE(second.Close());
    EXPECT_EQ(manager.HoldCount(), before);
    EXPECT_TRUE(first.Open()) << "the console is taken again after the last hold went";
    EXPECT_TRUE(first.Close());
}

// ---- Callbacks ----

// What the callbacks got since the last reset.
struct Received {
    std::vector<std::string> texts;
    const char* pointer = nullptr;
    bool terminated = true;
    void* parameter = nullptr;
    void (*release)(char*) = nullptr;
} g_got;

void SyncCallback(const char* text, int length)
{
    g_got.texts.emplace_back(text, static_cast<size_t>(length));
    g_got.pointer = text;
    g_got.terminated = g_got.terminated && text[length] == '\0';
}
void AsyncCallback(const char* t, int n, void (*r)(char*)) { SyncCallback(t, n), g_got.release = r; }
void SyncParamCallback(const char* t, int n, void* p) { SyncCallback(t, n), g_got.parameter = p; }
void AsyncParamCallback(const char* t, int n, void (*r)(char*), void* p) { AsyncCallback(t, n, r), g_got.parameter = p; }

class CallbackOutputs : public ::testing::Test {
protected:
    void SetUp() override
    {
        krtest::SetText(message, "hello callback");
        g_got = Received{};
    }
    CKrErrLogMessage message{false};
    int parameter = 42;
};

TEST_F(CallbackOutputs, EachGetsTheMessagesOwnTextAndOnlyTheAsyncOnesDeliverAfterClose)
{
    CKrSyncCallbackOutput sync;
    CKrAsyncCallbackOutput async;
    CKrSyncParameterizedCallbackOutput syncParam;
    CKrAsyncParameterizedCallbackOutput asyncParam;
    EXPECT_FALSE(sync.Log(message) || async.Log(message)) << "no callback yet";
    ASSERT_TRUE(sync.SetParams(&SyncCallback) && async.SetParams(&AsyncCallback));
    ASSERT_TRUE(syncParam.SetParams(&SyncParamCallback, &parameter));
    ASSERT_TRUE(asyncParam.SetParams(&AsyncParamCallback, &parameter));
    const struct {
        CKrLogOutput* output;
        bool async, parameterized;
    } kinds[] = {{&sync, false, false}, {&async, true, false}, {&syncParam, false, true}, {&asyncParam, true, true}};
    for (const auto& kind : kinds) {
        SCOPED_TRACE(&kind - kinds);
        g_got = Received{};
        EXPECT_EQ(kind.output->IsAsync(), kind.async);
        ASSERT_TRUE(kind.output->Open());
        EXPECT_TRUE(kind.output->Log(message));
        EXPECT_EQ(g_got.texts, krtest::Names{"hello callback"});
        EXPECT_EQ(g_got.pointer, message.GetBuffer()) << "no copy";
        EXPECT_TRUE(g_got.terminated);
        EXPECT_EQ(g_got.parameter, kind.parameterized ? &parameter : nullptr);
        EXPECT_EQ(g_got.release, kind.async ? &CKrErrLogMessage::FreeBuffer : nullptr);
        if (g_got.release) g_got.release(const_cast<char*>(g_got.pointer));  // must leave the message alone
        EXPECT_STREQ(message.GetBuffer(), "hello callback");
        EXPECT_TRUE(kind.output->Close());
        EXPECT_EQ(kind.output->Log(message), kind.async);
        EXPECT_EQ(g_got.texts.size(), kind.async ? 2u : 1u);
    }
}

TEST_F(CallbackOutputs, ParameterizedOnesOpenOnlyWithCallbackAndParameter)
{
    CKrSyncParameterizedCallbackOutput syncNoParameter;
    CKrAsyncParameterizedCallbackOutput asyncNoCallback, asyncNoParameter;
    syncNoParameter.SetParams(&SyncParamCallback, nullptr);
    asyncNoCallback.SetParams(nullptr, &parameter);
    asyncNoParameter.SetParams(&AsyncParamCallback, nullptr);
    for (auto [output, code] : {std::pair<CKrLogOutput*, int>{&syncNoParameter, 5}, {&asyncNoCallback, 6},
                                {&asyncNoParameter, 6}}) {
        EXPECT_FALSE(output->Open());
        EXPECT_EQ(output->GetReturnCode(), code);
    }
    EXPECT_FALSE(syncNoParameter.Log(message) || asyncNoCallback.Log(message));
    EXPECT_TRUE(g_got.texts.empty());
}

}  // namespace
