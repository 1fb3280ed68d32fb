// The trace line layouts, byte for byte.
#include <krerrlog/message/CKrErrLogMessage.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Text(CKrErrLogMessage& message) { return std::string(message.GetBuffer(), message.GetBufferLen()); }

struct Field {
    const char* name;
    const char* value;
    int width;
};

const Field kDateTimeMessage[] = {
    {"Date", "03/05/2024", 16},
    {"Time", "13:45:12", 8},
    {"Message", "Started", 64},
};

std::string DataLine(int format, const char* separator, const Field* fields, int count)
{
    CKrErrLogMessage message(false);
    message.BeginTraceFormat(format, false, separator);
    for (int i = 0; i < count; ++i) {
        if (format == 1) {
            message.newFormatTraceField(fields[i].value, 0, fields[i].width);
        } else {
            message.newFormatTraceField(fields[i].value, 0, fields[i].name);
        }
    }
    message.EndTraceFormat();
    return Text(message);
}

// The four known formats with these values are checked through the trace
// record (TraceRecord AssemblyInEveryFormat); an unknown one writes bare values.
TEST(TraceLayout, UnknownFormatWritesBareValuesAndNewline)
{
    EXPECT_EQ("03/05/202413:45:12Started\n", DataLine(7, ";", kDateTimeMessage, 3));
}

TEST(TraceLayout, AbsentValues)
{
    const Field fields[] = {{"User", "alice", 8}, {"Realm", nullptr, 4}, {"Agent", "web1", 4}};
    EXPECT_EQ("[alice][][web1]\n", DataLine(0, nullptr, fields, 3));
    EXPECT_EQ("alice;;web1\n", DataLine(2, ";", fields, 3));
    EXPECT_EQ("alice   " "  " "    " "  " "web1\n", DataLine(1, nullptr, fields, 3));
    EXPECT_EQ("<TraceMessage>\t<User>alice</User>\t<Realm></Realm>\t<Agent>web1</Agent></TraceMessage>\n",
              DataLine(3, "TraceMessage", fields, 3));
}

TEST(TraceLayout, FixedWidthCutsAndPads)
{
    const Field exact[] = {{"A", "abcdefgh", 8}, {"B", "abcdefghi", 8}, {"C", "ab", 8}, {"D", "xyz", 0}};
    EXPECT_EQ("abcdefgh" "  " "abcdefgh" "  " "ab      " "  " "\n", DataLine(1, nullptr, exact, 4));
    // A negative width writes nothing for the value either.
    const Field negative[] = {{"A", "abc", -3}, {"B", "x", 1}};
    EXPECT_EQ("  x\n", DataLine(1, nullptr, negative, 2));
}

TEST(TraceLayout, HeaderLines)
{
    CKrErrLogMessage message(false);
    message.BeginTraceFormat(0, false, nullptr);
    message.FormatTraceField("Date", nullptr, 0);
    message.FormatTraceField("User", nullptr, 0);
    message.EndTraceFormat();
    EXPECT_EQ("[Date][User]\n", Text(message));

    message.CleanUpMessage();
    message.BeginTraceFormat(2, false, ",");
    message.FormatTraceField("Date", ",", 0);
    message.FormatTraceField("User", ",", 0);
    message.EndTraceFormat();
    EXPECT_EQ("Date,User\n", Text(message));

    // Element header fields each end with a newline; data fields do not.
    message.CleanUpMessage();
    message.BeginTraceFormat(3, false, "TraceMessage");
    message.FormatTraceField("v1", "Date", 0);
    message.FormatTraceField(nullptr, "User", 0);
    message.EndTraceFormat();
    EXPECT_EQ("<TraceMessage>\t<Date>v1</Date>\n\t<User></User>\n</TraceMessage>\n", Text(message));

    message.CleanUpMessage();
    message.BeginTraceFormat(1, false, nullptr);
    message.FormatTraceField("Date", 6);
    message.FormatTraceField("ExecutionTime", 4);
    message.EndTraceFormat();
    EXPECT_EQ("Date    Exec\n", Text(message));
}

TEST(TraceLayout, NothingIsEscaped)
{
    const Field fields[] = {{"A<b>", "<x>]|;&\"", 4}, {"B", "[y]", 4}};
    EXPECT_EQ("[<x>]|;&\"][[y]]\n", DataLine(0, nullptr, fields, 2));
    EXPECT_EQ("<x>]|;&\";[y]\n", DataLine(2, ";", fields, 2));
    EXPECT_EQ("<a&b>\t<A<b>><x>]|;&\"</A<b>>\t<B>[y]</B></a&b>\n", DataLine(3, "a&b", fields, 2));
}

TEST(TraceLayout, NullSeparatorsAndNames)
{
    const Field fields[] = {{nullptr, "x", 1}, {nullptr, "y", 1}};
    EXPECT_EQ("xy\n", DataLine(2, nullptr, fields, 2));
    EXPECT_EQ("<>\t<>x</>\t<>y</></>\n", DataLine(3, nullptr, fields, 2));
}

TEST(TraceLayout, BeginAppendsAfterExistingTextAndFirstFieldIsPerLine)
{
    CKrErrLogMessage message(true);
    message.FormatLogProlog("a.cpp", 0, 0);
    const std::string prolog = Text(message);
    message.BeginTraceFormat(3, false, "TraceMessage");
    EXPECT_EQ(prolog + "<TraceMessage>", Text(message));
    // The first field flag is per line: a second line starts without separator again.
    message.CleanUpMessage();
    for (int line = 0; line < 2; ++line) {
        message.BeginTraceFormat(2, false, ";");
        message.newFormatTraceField("a", 0, "A");
        message.newFormatTraceField("b", 0, "B");
        message.EndTraceFormat();
    }
    EXPECT_EQ("a;b\na;b\n", Text(message));
}

TEST(TraceLayout, InMemoryLine)
{
    CKrErrLogMessage message(false);
    message.InMemFormatTraceField("03/05/2024", 0);
    message.InMemFormatTraceField(1);
    message.InMemFormatTraceField("Started", 0);
    message.InMemFormatTraceField(0);
    message.InMemFormatTraceField(-4);
    message.InMemFormatTraceField(nullptr, 0);
    message.InMemEndTraceFormat();
    EXPECT_EQ("03/05/2024||Started||\n", Text(message));
}

TEST(TraceLayout, LongLineGrowsTheBuffer)
{
    const std::string value(5000, 'v');
    const Field fields[] = {{"Message", value.c_str(), 64}, {"User", "end", 32}};
    EXPECT_EQ("[" + value + "][end]\n", DataLine(0, nullptr, fields, 2));
}

}  // namespace
