// The trace line layouts, byte for byte.
#include <krerrlog/message/CKrErrLogMessage.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Text(CKrErrLogMessage& message) { return std::string(message.GetBuffer(), message.GetBufferLen()); }

struct Field {
    const char* name;
    const char* value;
    int width;
};

// One data line; the fixed-width format (1) places values by width, the
// others by name.
std::string DataLine(int format, const char* separator, const std::vector<Field>& fields)
{
    CKrErrLogMessage message(false);
    message.BeginTraceFormat(format, false, separator);
    for (const Field& f : fields) {
        if (format == 1) {
            message.newFormatTraceField(f.value, 0, f.width);
        } else {
            message.newFormatTraceField(f.value, 0, f.name);
        }
    }
    message.EndTraceFormat();
    return Text(message);
}

// The four known formats with ordinary values are checked through the trace
// record (TraceRecord AssemblyInEveryFormat); these are the awkward values.
TEST(TraceLayout, DataLinesWithAwkwardValues)
{
    const std::vector<Field> absent = {{"User", "alice", 8}, {"Realm", nullptr, 4}, {"Agent", "web1", 4}};
    const std::vector<Field> markup = {{"A<b>", "<x>]|;&\"", 4}, {"B", "[y]", 4}};
    const std::vector<Field> unnamed = {{nullptr, "x", 1}, {nullptr, "y", 1}};
    const std::string longValue(5000, 'v');
    const struct {
        int format;
        const char* separator;
        std::vector<Field> fields;
        std::string line;
    } cases[] = {
        // An unknown format writes bare values.
        {7, ";", {{"Date", "03/05/2024", 16}, {"Time", "13:45:12", 8}, {"Message", "Started", 64}},
         "03/05/202413:45:12Started\n"},
        {0, nullptr, absent, "[alice][][web1]\n"},
        {2, ";", absent, "alice;;web1\n"},
        {1, nullptr, absent, "alice   " "  " "    " "  " "web1\n"},
        {3, "TraceMessage", absent,
         "<TraceMessage>\t<User>alice</User>\t<Realm></Realm>\t<Agent>web1</Agent></TraceMessage>\n"},
        // Fixed widths cut and pad; a zero or negative width writes nothing.
        {1, nullptr, {{"A", "abcdefgh", 8}, {"B", "abcdefghi", 8}, {"C", "ab", 8}, {"D", "xyz", 0}},
         "abcdefgh" "  " "abcdefgh" "  " "ab      " "  " "\n"},
        {1, nullptr, {{"A", "abc", -3}, {"B", "x", 1}}, "  x\n"},
        // Nothing is escaped.
        {0, nullptr, markup, "[<x>]|;&\"][[y]]\n"},
        {2, ";", markup, "<x>]|;&\";[y]\n"},
        {3, "a&b", markup, "<a&b>\t<A<b>><x>]|;&\"</A<b>>\t<B>[y]</B></a&b>\n"},
        // Null separators and names.
        {2, nullptr, unnamed, "xy\n"},
        {3, nullptr, unnamed, "<>\t<>x</>\t<>y</></>\n"},
        // Past the buffer's first capacity.
        {0, nullptr, {{"Message", longValue.c_str(), 64}, {"User", "end", 32}}, "[" + longValue + "][end]\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 60));
        EXPECT_EQ(c.line, DataLine(c.format, c.separator, c.fields));
    }
}

TEST(TraceLayout, HeaderLines)
{
    CKrErrLogMessage message(false);
    auto header = [&](int format, const char* separator, auto... fields) {
        message.CleanUpMessage();
        message.BeginTraceFormat(format, false, separator);
        (..., fields());
        message.EndTraceFormat();
        return Text(message);
    };
    EXPECT_EQ("[Date][User]\n", header(0, nullptr, [&] { message.FormatTraceField("Date", nullptr, 0); },
                                       [&] { message.FormatTraceField("User", nullptr, 0); }));
    EXPECT_EQ("Date,User\n", header(2, ",", [&] { message.FormatTraceField("Date", ",", 0); },
                                    [&] { message.FormatTraceField("User", ",", 0); }));
    // Element header fields each end with a newline; data fields do not.
    EXPECT_EQ("<TraceMessage>\t<Date>v1</Date>\n\t<User></User>\n</TraceMessage>\n",
              header(3, "TraceMessage", [&] { message.FormatTraceField("v1", "Date", 0); },
                     [&] { message.FormatTraceField(nullptr, "User", 0); }));
    EXPECT_EQ("Date    Exec\n", header(1, nullptr, [&] { message.FormatTraceField("Date", 6); },
                                       [&] { message.FormatTraceField("ExecutionTime", 4); }));
}

TEST(TraceLayout, BeginAppendsAfterExistingTextAndFirstFieldIsPerLine)
{
    CKrErrLogMessage message(true);
    message.FormatLogProlog("a.cpp", 0, 0);
    const std::string prolog = Text(message);
    message.BeginTraceFormat(3, false, "TraceMessage");
    EXPECT_EQ(prolog + "<TraceMessage>", Text(message));
    // A second line starts without a separator again.
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

}  // namespace
