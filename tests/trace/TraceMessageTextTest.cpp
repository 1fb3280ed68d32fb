// Message texts of a trace call: the wrapped-argument family, the array and
// variable-argument forms, the three format buffers and the long texts.
#include "TraceDataTestPeer.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <utility>
#include <vector>

using krtest::TraceTables;
using Peer = CKrTraceDataTestPeer;
using Wrapped = __ToString__;

namespace {

// Not marked as printf-like, so that a null format can be passed through.
const char* FormatVA(CKrTraceData& record, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const char* text = record.FormatTraceMessageVA(format, arguments);
    va_end(arguments);
    return text;
}

// Calls the form taking sizeof...(I) wrapped arguments: "<1><2>...".
template <size_t... I>
void ExpectArity(CKrTraceData& record, std::index_sequence<I...>)
{
    const Wrapped arguments[] = {Wrapped(static_cast<int>(I) + 1)..., Wrapped("end")};
    std::string format, expected;
    for (size_t i = 1; i <= sizeof...(I); ++i) {
        format += "<%s>";
        expected += "<" + std::to_string(i) + ">";
    }
    EXPECT_EQ(sizeof...(I) ? expected : "none",
              std::string(record.FormatTraceMessage(sizeof...(I) ? format.c_str() : "none", arguments[I]...)));
}

template <size_t... N>
void ExpectEveryArity(CKrTraceData& record, std::index_sequence<N...>)
{
    (ExpectArity(record, std::make_index_sequence<N>()), ...);
}

}  // namespace

TEST(TraceMessageText, EveryForm)
{
    CKrTraceData record;
    ExpectEveryArity(record, std::make_index_sequence<15>());  // zero to fourteen arguments
    // Texts and numbers mixed; a null text reads as the (empty) buffer.
    EXPECT_STREQ("user alice got -7 [] %",
                 record.FormatTraceMessage("user %s got %d [%s] %%", Wrapped("alice"), Wrapped(-7),
                                           Wrapped(static_cast<const char*>(nullptr))));
    // Plain texts and integers are wrapped on the way in.
    EXPECT_STREQ("a/5/-6/4294967295", record.FormatTraceMessage("%s/%d/%ld/%u", "a", 5, -6LL, 4294967295u));
    // Fewer arguments than conversions: the rest writes nothing.
    EXPECT_STREQ("a=1 b=", record.FormatTraceMessage("a=%s b=%s", Wrapped(1)));
    // The array and variable-argument forms.
    const char* texts[] = {"x", "y"};
    EXPECT_STREQ("x-y", record.FormatTraceMessageVA("%s-%s", 2, texts));
    EXPECT_STREQ("", record.FormatTraceMessageVA(nullptr, 2, texts));
    EXPECT_STREQ("", record.FormatTraceMessageVA("", 2, texts));
    EXPECT_STREQ("", record.FormatTraceMessageVA("%s", -1, texts));
    EXPECT_STREQ("plain", record.FormatTraceMessageVA("plain", 0, nullptr));
    EXPECT_STREQ("[]", record.FormatTraceMessageVA("[%s]", 3, nullptr));
    // A caller's format is never interpreted with typed arguments.
    EXPECT_STREQ("%n %p x", record.FormatTraceMessageVA("%%n %%p %n", 1, texts));
    EXPECT_STREQ("42-x-2.50", FormatVA(record, "%d-%s-%.2f", 42, "x", 2.5));
    EXPECT_STREQ("", FormatVA(record, nullptr));
    EXPECT_STREQ("", FormatVA(record, ""));
    EXPECT_STREQ("", FormatVA(record, "%s", ""));
}

TEST(TraceMessageText, BuffersAreSelectedPerUse)
{
    CKrTraceData record;
    const char* message = record.FormatTraceMessage("message");
    record.SelectFormatBuffer(1);
    const char* source = record.FormatTraceMessage("main.cpp:%s", Wrapped(42));
    EXPECT_EQ(Peer::FormatBuffer(record, 0), message);
    EXPECT_EQ(Peer::FormatBuffer(record, 1), source);
    EXPECT_STREQ("main.cpp:42", source);
    record.SelectFormatBuffer(4);  // wraps to buffer 1
    EXPECT_EQ(source, record.FormatTraceMessage("again"));
    EXPECT_STREQ("again", source);
    EXPECT_STREQ("message", message);
}

TEST(TraceMessageText, TextsThatDoNotFitLiveUntilCleanUp)
{
    TraceTables tables;
    auto config = krtest::ReadConfiguration(tables, "components\ndata: Message, User\n");
    ASSERT_TRUE(config.read);
    CKrTraceData& record = *config.record;
    const std::string fits(1023, 'f');
    EXPECT_EQ(Peer::FormatBuffer(record, 0), record.FormatTraceMessage("%s", Wrapped(fits.c_str())));
    EXPECT_EQ(Peer::FormatBuffer(record, 0), FormatVA(record, "%s", fits.c_str()));
    EXPECT_EQ(nullptr, Peer::LongText(record));
    // Every long text, from either form and any buffer, lives until the clean-up.
    std::vector<std::pair<std::string, const char*>> made;
    for (size_t length : {1024, 1025, 3000, 200000}) {
        const std::string text(length, 'L');
        made.emplace_back(text, record.FormatTraceMessage("%s", Wrapped(text.c_str())));
        EXPECT_EQ(Peer::LongText(record), made.back().second);
        made.emplace_back(text.substr(1) + "!", FormatVA(record, "%s!", text.c_str() + 1));
        EXPECT_EQ(Peer::LongText(record), made.back().second);
        record.SelectFormatBuffer(1);
    }
    for (const auto& [text, result] : made) EXPECT_EQ(text, result);
    record.SetFieldValue(krtest::kMessage, made[4].second, false);
    record.SetFieldValue(krtest::kUser, made[3].second, false);
    ASSERT_TRUE(record.Format());
    EXPECT_EQ("[" + made[4].first + "][" + made[3].first + "]\n", record.GetFormattedTraceMessage());
    EXPECT_TRUE(record.CleanUpData());
    EXPECT_EQ(nullptr, Peer::LongText(record));
    // The in-memory clean-up frees them as well.
    record.FormatTraceMessage("%s", Wrapped(made[4].first.c_str()));
    EXPECT_NE(nullptr, Peer::LongText(record));
    EXPECT_TRUE(record.InMemoryCleanUpData());
    EXPECT_EQ(nullptr, Peer::LongText(record));
    // A record destroyed with long texts frees them (checked by the leak checker).
    record.FormatTraceMessage("%s", Wrapped(made[4].first.c_str()));
}

// A record that is never configured (used only for formatting) frees its long
// texts at clean-up too, and one trace call holds at most 1 MiB of them.
TEST(TraceMessageText, LongTextsAreFreedOnAnyRecordAndBoundedPerCall)
{
    CKrTraceData record;
    const std::string text(10000, 't');
    for (int i = 0; i < 3; ++i) {
        const char* made = record.FormatTraceMessage("%s", Wrapped(text.c_str()));
        EXPECT_EQ(text, made);
        EXPECT_NE(nullptr, Peer::LongText(record));
        record.SetFieldValue(krtest::kMessage, made, false);
        record.SetFieldValue(krtest::kUser, "caller's", false);
        EXPECT_TRUE(record.CleanUpData());
        EXPECT_EQ(nullptr, Peer::LongText(record)) << "kept by an unconfigured record";
        EXPECT_EQ("<unset>", krtest::Value(record, krtest::kMessage)) << "left pointing into a freed text";
        EXPECT_EQ("caller's", krtest::Value(record, krtest::kUser));
    }
    record.FormatTraceMessage("%s", Wrapped(text.c_str()));
    EXPECT_TRUE(record.InMemoryCleanUpData());
    EXPECT_EQ(nullptr, Peer::LongText(record));

    size_t whole = 0, cut = 0;
    for (int i = 0; i < 200; ++i) {  // 2 MB asked for in one trace call
        const std::string made = FormatVA(record, "%s", text.c_str());
        if (made == text) {
            ++whole;
        } else {
            EXPECT_EQ(text.substr(0, 1023), made) << i;
            ++cut;
        }
    }
    EXPECT_LE(whole * (text.size() + 1), size_t(1) << 20);
    EXPECT_GT(whole, 90u);
    EXPECT_EQ(whole + cut, 200u);
    EXPECT_TRUE(record.CleanUpData());
    EXPECT_EQ(text, record.FormatTraceMessage("%s", Wrapped(text.c_str()))) << "the bound is per trace call";
}
