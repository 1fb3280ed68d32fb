// Message texts after the prolog: component texts and their arguments, audit
// and trace texts, translated texts with their fallback keys. The catalogue
// is the process-wide logger's, with the test component (component 2, bundle
// KrTestComponent in English and German) built beside the tests.
#include <krerrlog/logger/CKrErrLogTableComponent.h>
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/support/internal/KrEnvironment.h>

#include "testsupport/LoggerTestPeer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

namespace {

// Ids of the test component: severity bits 14-15, message number below.
constexpr int kOpenFailedFormat = 0x0200C005;  // "Cannot open file %s: %s"
constexpr int kEmptyText = 0x02004006;         // ""
constexpr int kStrayConversions = 0x02008007;  // "Value %d of %s is 100%% and %y stays"
constexpr int kNoSeverity = 0x02000008;        // "invalid severity %s"
constexpr unsigned int kOpenFailedKey = 0x0200C003u;  // "krtest-open-failed"
constexpr unsigned int kStartedKey = 0x02004001u;     // "krtest-started"
constexpr unsigned int kNotInBundle = 0x0200C004u;    // "krtest-not-in-bundle"
constexpr unsigned int kManyKey = 0x02004009u;        // "krtest-many": {0} .. {15}
constexpr unsigned int kUnknownMessage = 0x0200C00Au;

// What a message holds after `text` was put into it as it stands.
std::string Text(CKrErrLogMessage& message) { return std::string(message.GetBuffer(), message.GetBufferLen()); }

// A text from the trace formatter, copied and given back; "<null>" for none.
std::string Owned(const char* text)
{
    const std::string copy = text ? text : "<null>";
    CKrErrLogMessage::FreeFormattedMessage(text);
    return copy;
}

bool FormatWithList(CKrErrLogMessage& message, int id, ...)
{
    va_list list;
    va_start(list, id);
    const bool result = message.FormatLogMessageVA(id, list);
    va_end(list);
    return result;
}

// A component without a bundle name, for slot 6 (component 7) while a test runs.
const KrComponentMessage kNoBundleMessages[] = {{1, "no-bundle %s"}};

class MessageTexts : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_STREQ("KrTestComponent", theLogger()->GetMsgBundle(kOpenFailedKey))
            << "the test component library was not found beside the test program";
        krerrlog::SetAdminLocale("en");
    }
    void TearDown() override { krerrlog::SetAdminLocale(nullptr); }

    // "P" in place of a prolog.
    void Start()
    {
        message.CleanUpMessage();
        message.SetFormattedMessage("P");
    }
    // The message after one call that must succeed, starting from "P".
    template <typename Call>
    std::string After(Call call)
    {
        Start();
        EXPECT_TRUE(call());
        return Text(message);
    }
    // The arguments of the translated forms, exactly these.
    void Hold(std::initializer_list<const char*> arguments)
    {
        message.ClearArguments();
        for (const char* argument : arguments) message.AddArgument(argument);
    }
    CKrErrLogMessage message{false};
};

}  // namespace

// ---- The argument wrapper ----

TEST(ArgumentWrapper, NumbersAndTexts)
{
    EXPECT_STREQ("-42", __ToString__(-42).c_str());
    EXPECT_STREQ("0", __ToString__(0).c_str());
    EXPECT_STREQ("-2147483648", __ToString__(INT_MIN).c_str());
    EXPECT_STREQ("-9223372036854775808", __ToString__(LLONG_MIN).c_str());
    EXPECT_STREQ("18446744073709551615", __ToString__(ULLONG_MAX).c_str());
    EXPECT_STREQ("65535", __ToString__(static_cast<unsigned short>(65535)).c_str());
    EXPECT_STREQ("1", __ToString__(true).c_str());
    __ToString__ fromNull(static_cast<const char*>(nullptr));
    EXPECT_STREQ("", fromNull.c_str());
    EXPECT_EQ(nullptr, fromNull.text);
    const char* text = "abc";
    EXPECT_EQ(text, __ToString__(text).c_str());  // texts are not copied
}

// ---- Component texts ----

TEST_F(MessageTexts, InPlaceSubstitution)
{
    char x[] = "x", y[] = "y", z[] = "z", percentS[] = "%s";
    std::string longArgument(10000, 'L');
    char* both[] = {x, y};
    char* nested[] = {percentS, y};
    char* three[] = {x, y, z};
    char* withNull[] = {nullptr, x};
    char* longOne[] = {longArgument.data(), y};
    const struct {
        int id;
        char** args;
        int count;
        std::string line;
    } cases[] = {
        {kOpenFailedFormat, both, 2, "[ERROR] Cannot open file x: y"},
        {kOpenFailedFormat, nested, 2, "[ERROR] Cannot open file y: %s"},  // the next argument takes its "%s"
        {kOpenFailedFormat, three, 3, "[ERROR] Cannot open file x: y"},
        {kOpenFailedFormat, both, 1, "[ERROR] Cannot open file x: %s"},
        {kOpenFailedFormat, both, 0, "[ERROR] Cannot open file %s: %s"},
        {kOpenFailedFormat, both, -3, "[ERROR] Cannot open file %s: %s"},
        {kOpenFailedFormat, nullptr, 2, "[ERROR] Cannot open file %s: %s"},
        {kOpenFailedFormat, withNull, 2, "[ERROR] Cannot open file (null): x"},
        // Nothing but "%s" is special; a text without it is written unchanged.
        {kStrayConversions, both, 2, "[WARNING] Value %d of x is 100%% and %y stays"},
        {static_cast<int>(kStartedKey), both, 2, "[INFO] krtest-started"},
        {kOpenFailedFormat, longOne, 2, "[ERROR] Cannot open file " + longArgument + ": y"},
    };
    for (const auto& c : cases)
        EXPECT_EQ("P" + c.line + "\n", After([&] { return message.FormatLogMessage(c.id, c.args, c.count); }));
}

TEST_F(MessageTexts, WrappedArgumentFamilies)
{
    auto log = [&](int id, auto... args) { return After([&] { return message.FormatLogMessage(id, args...); }); };
    EXPECT_EQ("P[ERROR] Cannot open file x.cfg: -13\n", log(kOpenFailedFormat, "x.cfg", -13));
    EXPECT_EQ("P[ERROR] Cannot open file : \n", log(kOpenFailedFormat));  // nothing to write
    // The safe formatter takes every conversion as text; stray ones stay.
    EXPECT_EQ("P[WARNING] Value 7 of x is 100% and %y stays\n", log(kStrayConversions, 7, "x"));
    EXPECT_EQ("P[INVALID MESSAGE TYPE] invalid severity z\n", log(kNoSeverity, "z"));
    EXPECT_EQ("P[INFO] \n", log(kEmptyText, "unused"));
    EXPECT_EQ("P[ERROR] -42\n", log(0x0100C001, __ToString__(-42)));  // the built-in component's "%1s"

    // Fourteen arguments, wrappers and plain values mixed.
    EXPECT_EQ("P123456789abc-10|", After([&] {
                  return message.FormatAuditMessage("%s%s%s%s%s%s%s%s%s%s%s%s%s%s|", 1, 2, 3, 4, 5, 6, 7, 8, 9, "a",
                                                    "b", __ToString__("c"), __ToString__(-1), 0);
              }));
    EXPECT_EQ("user=42", Owned(CKrErrLogMessage::FormatTraceMessage("%s=%s", "user", 42)));
}

TEST_F(MessageTexts, ArrayAndListForms)
{
    auto array = [&](int count, const char** texts) {
        return After([&] { return message.FormatLogMessageVA(kOpenFailedFormat, count, texts); });
    };
    auto list = [&](const char* a, const char* b) {
        return After([&] { return FormatWithList(message, kOpenFailedFormat, a, b); });
    };
    const char* texts[] = {"a.cfg", "denied"};
    EXPECT_EQ("P[ERROR] Cannot open file a.cfg: denied\n", array(2, texts));
    // A missing array reads as no arguments; a negative count gives no text.
    EXPECT_EQ("P[ERROR] Cannot open file : \n", array(2, nullptr));
    EXPECT_EQ("P[ERROR] \n", array(-1, texts));
    EXPECT_EQ("P[ERROR] Cannot open file b.cfg: gone\n", list("b.cfg", "gone"));

    // Texts longer than a line are cut at 4095 characters.
    const std::string huge(20000, 'h');
    const char* hugeTexts[] = {huge.c_str(), "tail"};
    const std::string expected = "P[ERROR] " + ("Cannot open file " + huge).substr(0, 4095) + "\n";
    EXPECT_EQ(expected, array(2, hugeTexts));
    EXPECT_EQ(expected, list(huge.c_str(), "tail"));
}

TEST_F(MessageTexts, IdsWithoutATextLeaveTheMessageAlone)
{
    char x[] = "x";
    char* args[] = {x};
    const char* texts[] = {"x"};
    for (unsigned int id : {0x0000C001u, 0x1B00C001u, 0xFF00C001u, kUnknownMessage, 0x0300C001u}) {
        SCOPED_TRACE(id);
        Start();
        const int signedId = static_cast<int>(id);
        EXPECT_FALSE(message.FormatLogMessage(signedId, "x"));
        EXPECT_FALSE(message.FormatLogMessage(signedId));
        EXPECT_FALSE(message.FormatLogMessageVA(signedId, 1, texts));
        EXPECT_FALSE(message.FormatLogMessage(signedId, args, 1));
        EXPECT_FALSE(FormatWithList(message, signedId, "x"));
        EXPECT_EQ("P", Text(message));
    }
}

// ---- Audit, trace and preformatted texts ----

TEST_F(MessageTexts, AuditTextsAreNeverCut)
{
    Start();
    EXPECT_FALSE(message.FormatAuditMessage(""));
    EXPECT_FALSE(message.FormatAuditMessage(nullptr, "x"));
    EXPECT_FALSE(message.FormatAuditMessageVA(nullptr, 0, nullptr));
    EXPECT_EQ("P", Text(message));

    // Around the 4096-character first pass, and far beyond it.
    for (size_t length : {size_t(4095), size_t(4096), size_t(4097), size_t(1 << 20)}) {
        SCOPED_TRACE(length);
        const std::string body(length - 2, 'a');
        EXPECT_EQ("P<" + body + ">", After([&] { return message.FormatAuditMessage("<%s>", body.c_str()); }));
    }
    // No severity word, no newline; stray conversions stay as they are.
    EXPECT_EQ("Puser u1: 5% %y %", After([&] { return message.FormatAuditMessage("user %s: %d%% %y %", "u1", 5); }));
    const char* texts[] = {"a", "b"};
    EXPECT_EQ("P[|]", After([&] { return message.FormatAuditMessageVA("[%s|%s]", 2, nullptr); }));
    EXPECT_EQ("P[a|b]", After([&] { return message.FormatAuditMessageVA("[%s|%s]", 2, texts); }));
}

TEST(TraceTexts, NewBufferCutAtALineAndPreformattedTextsAsTheyStand)
{
    EXPECT_EQ(nullptr, CKrErrLogMessage::FormatTraceMessage(nullptr));
    EXPECT_EQ(nullptr, CKrErrLogMessage::FormatTraceMessageVA(nullptr, 1, nullptr));
    CKrErrLogMessage::FreeFormattedMessage(nullptr);
    EXPECT_EQ("", Owned(CKrErrLogMessage::FormatTraceMessage("")));
    const std::string huge(9000, 't');
    EXPECT_EQ(huge.substr(0, 4095), Owned(CKrErrLogMessage::FormatTraceMessage("%s!", huge.c_str())));
    const char* texts[] = {"x", nullptr};
    EXPECT_EQ("x/(null)/", Owned(CKrErrLogMessage::FormatTraceMessageVA("%s/%s/%s", 2, texts)));

    CKrErrLogMessage message(false);  // a preformatted text is appended as it stands
    message.SetFormattedMessage("100%s %d");
    message.SetFormattedMessage(nullptr);
    message.SetFormattedMessage("");
    EXPECT_EQ("100%s %d", Text(message));
}

// ---- Translated texts ----

TEST_F(MessageTexts, TranslatedLineInTheAdministratorsLocale)
{
    message.FormatLogProlog("src/a/main.cpp", 7, 0);
    const std::string prolog = Text(message);
    // (Time stamps move on: later lines compare past their own prolog.)
    Hold({"x.cfg", "denied"});
    const char* line = message.FormatMessageA(kOpenFailedKey);
    ASSERT_NE(nullptr, line);
    EXPECT_EQ(line, message.GetBuffer());
    EXPECT_EQ(prolog + "[ERROR][krtest-open-failed] Cannot open file x.cfg: denied\n", std::string(line));
    EXPECT_STREQ("ERROR", message.GetMsgSeverity());

    krerrlog::SetAdminLocale("de_DE");
    message.FormatLogProlog("src/a/main.cpp", 7, 0);
    line = message.FormatMessageA(kOpenFailedKey);
    ASSERT_NE(nullptr, line);
    EXPECT_EQ(prolog.size(), std::string(line).find("[ERROR][krtest-open-failed] "));
    EXPECT_NE(nullptr, std::strstr(line, "] Datei x.cfg kann nicht ge\xC3\xB6" "ffnet werden: denied\n"));

    // A locale without a bundle file: the key stands for the text.
    krerrlog::SetAdminLocale("fr_FR");
    message.FormatLogProlog("src/a/main.cpp", 7, 0);
    const size_t prologLength = message.GetBufferLen();
    EXPECT_EQ("[ERROR][krtest-open-failed] krtest-open-failed\n",
              std::string(message.FormatMessageA(kOpenFailedKey)).substr(prologLength));
}

TEST_F(MessageTexts, FallbackKeys)
{
    const std::pair<unsigned int, const char*> cases[] = {
        {0x0100C001u, "[ERROR][kr-log-00000] a1\n"},
        {0x01000000u, "[INVALID MESSAGE TYPE][kr-log-00000] a1\n"},
        {0x0000C001u, "[ERROR][kr-log-00001] missing component library\n"},
        {0x1B004001u, "[INFO][kr-log-00001] missing component library\n"},
        {0xFF008001u, "[WARNING][kr-log-00001] missing component library\n"},
        {0x0300C001u, "[ERROR][kr-log-00001] missing component library\n"},
        {kUnknownMessage, "[ERROR][kr-log-00002] missing message key\n"},
        {kNotInBundle, "[ERROR][krtest-not-in-bundle] krtest-not-in-bundle\n"},
        {kStartedKey, "[INFO][krtest-started] Component a1 started in a2 ms\n"},
    };
    for (const auto& [id, expected] : cases) {
        SCOPED_TRACE(id);
        Start();
        Hold({"a1", "a2"});
        const char* line = message.FormatMessageA(id);
        ASSERT_NE(nullptr, line);
        EXPECT_EQ(std::string("P") + expected, line);
    }
}

TEST_F(MessageTexts, SlotWithoutBundleName)
{
    CKrLogger* logger = theLogger();
    ASSERT_EQ(nullptr, CKrLoggerTestPeer::Slot(*logger, 6));
    CKrErrLogTableComponent component(7, nullptr, "NoBundle", nullptr, kNoBundleMessages, 1);
    CKrLoggerTestPeer::SetSlot(*logger, 6, &component);
    Start();
    Hold({"v"});
    const char* line = message.FormatMessageA(0x0700C001u);
    const bool componentText = message.FormatLogMessage(0x0700C001, "v");  // needs no bundle
    CKrLoggerTestPeer::SetSlot(*logger, 6, nullptr);

    ASSERT_NE(nullptr, line);
    EXPECT_TRUE(componentText);
    EXPECT_EQ("P[ERROR][kr-log-00001] missing component library\n[ERROR] no-bundle v\n", Text(message));
}

TEST_F(MessageTexts, TraceTextOfATranslatedMessage)
{
    message.FormatLogProlog("main.cpp", 1, 0);
    Hold({"hello"});
    EXPECT_STREQ("[kr-log-00000] hello", message.FormatMessageForTrace(0x01004001u));

    krerrlog::SetAdminLocale("de");  // trace texts are English whatever the locale
    Hold({"c", "9"});
    EXPECT_STREQ("[krtest-started] Component c started in 9 ms", message.FormatMessageForTrace(kStartedKey));

    // A prolog followed by the whole translated line, then the trace text replaces it.
    message.FormatLogProlog("main.cpp", 1, 0);
    Hold({"hello"});
    const std::string line = message.FormatMessageA(0x01004001u);
    EXPECT_EQ("[INFO][kr-log-00000] hello\n", line.substr(line.find("[INFO]")));
}

TEST_F(MessageTexts, NoLineWithoutAProlog)
{
    message.AddArgument("x");
    EXPECT_EQ(nullptr, message.FormatMessageA(kOpenFailedKey));
    EXPECT_EQ(0, message.GetBufferLen());
    message.FormatLogProlog("f.cpp", 1, 0);
    EXPECT_NE(nullptr, message.FormatMessageA(kOpenFailedKey));
    message.CleanUpMessage();
    EXPECT_EQ(nullptr, message.FormatMessageA(kOpenFailedKey));
}

TEST_F(MessageTexts, HeldArguments)
{
    char out[512];
    // Sixteen arguments: the sixteenth is ignored, so {15} stays.
    for (int i = 0; i < 16; ++i) message.AddArgument(("a" + std::to_string(i)).c_str());
    EXPECT_STREQ("krtest-many", message.PreformatMessage(kManyKey, "en", out, sizeof out));
    EXPECT_STREQ("a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 a10 a11 a12 a13 a14 {15}", out);

    // Null text, no text, and id 0 meaning the last id.
    message.ClearArguments();
    message.AddArgument(nullptr);
    message.AddArgument();
    message.AddArgument("{0}");
    EXPECT_STREQ("krtest-many", message.PreformatMessage(0, "en", out, sizeof out));
    EXPECT_STREQ("<null>  {0} {3} {4} {5} {6} {7} {8} {9} {10} {11} {12} {13} {14} {15}", out);
    EXPECT_STREQ("INFO", message.GetMsgSeverity());

    // No arguments: the text as it stands, cut to the destination.
    message.ClearArguments();
    EXPECT_STREQ("krtest-open-failed", message.PreformatMessage(kOpenFailedKey, "en", out, sizeof out));
    EXPECT_STREQ("Cannot open file {0}: {1}", out);
    char small[8];
    std::memset(small, '#', sizeof small);
    message.PreformatMessage(kOpenFailedKey, "en", small, sizeof small);
    EXPECT_STREQ("Cannot ", small);
    EXPECT_STREQ("ERROR", message.GetMsgSeverity());

    // With arguments the translation library gets one byte less.
    message.AddArgument("x");
    std::memset(small, '#', sizeof small);
    message.PreformatMessage(kOpenFailedKey, "en", small, sizeof small);
    EXPECT_STREQ("Cannot", small);
    EXPECT_EQ('#', small[7]);

    // No destination, a null locale: the key still comes back.
    EXPECT_STREQ("krtest-open-failed", message.PreformatMessage(kOpenFailedKey, nullptr, nullptr, 0));
    EXPECT_STREQ("krtest-open-failed", message.PreformatMessage(kOpenFailedKey, nullptr, out, sizeof out));
    EXPECT_STREQ("Cannot open file x: {1}", out);
    char one[1] = {'#'};
    message.PreformatMessage(kOpenFailedKey, "en", one, 1);
    EXPECT_EQ('\0', one[0]);
}

TEST_F(MessageTexts, TranslatedTextsLongerThanTheBuffer)
{
    message.FormatLogProlog("f.cpp", 1, 0);
    const int prologLength = message.GetBufferLen();
    const std::string huge(10000, 'q');
    Hold({huge.c_str(), "end"});
    const char* line = message.FormatMessageA(kOpenFailedKey);
    ASSERT_NE(nullptr, line);
    // The text buffer holds 4096 bytes; the translation gets 4095 of them.
    EXPECT_EQ("[ERROR][krtest-open-failed] " + ("Cannot open file " + huge).substr(0, 4094) + "\n",
              std::string(line + prologLength));
}
