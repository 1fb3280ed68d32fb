// Collected error records logged through the process-wide logger's error log.
#include <krerrlog/logger/CKrError.h>
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/output/CKrLogOutput.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Keeps the text of every line it is given; refuses them all when told to.
class RecordingOutput : public CKrLogOutput {
public:
    explicit RecordingOutput(std::vector<std::string>& lines, bool accepts = true)
        : m_lines(lines), m_bAccepts(accepts)
    {
    }
    bool Open() override { return true; }
    bool Log(CKrErrLogMessage& message) override
    {
        m_lines.emplace_back(message.GetBuffer(), static_cast<size_t>(message.GetBufferLen()));
        return m_bAccepts;
    }
    bool Close() override { return true; }

private:
    std::vector<std::string>& m_lines;
    bool m_bAccepts;
};

// A record whose message is the text and whose code is the given one.
CKrErrData* Record(const std::string& text, unsigned int code = 0)
{
    CKrErrData* record = CKrError::NewErrData();
    record->GetMessage()->SetFormattedMessage(text.c_str());
    record->SetErrorCode(code);
    return record;
}

class ErrorRecords : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(theLogger()->SetLogOutput(new RecordingOutput(lines)));
    }
    void TearDown() override { theLogger()->DisableLog(); }

    std::vector<std::string> lines;
};

TEST_F(ErrorRecords, LogMessagesLogsEachRecordOnceInOrder)
{
    CKrError error;
    EXPECT_TRUE(error.LogMessages()) << "an empty list logs nothing and succeeds";
    EXPECT_EQ(error.GetLastError(), 0u);
    EXPECT_TRUE(lines.empty());

    error.AddError(Record("one\n", 11));
    error.AddError(Record("two\n", 22));
    EXPECT_EQ(error.GetLastError(), 22u);
    EXPECT_TRUE(error.LogMessages());
    error.AddError(Record("three\n", 33));
    EXPECT_TRUE(error.LogMessages());
    EXPECT_TRUE(error.LogMessages()) << "nothing left to log";
    EXPECT_EQ(lines, (std::vector<std::string>{"one\n", "two\n", "three\n"}));
    EXPECT_EQ(error.GetLastError(), 33u);
}

TEST_F(ErrorRecords, LogLastMessageLogsOnlyTheLastAndMarksAllLogged)
{
    CKrError error;
    EXPECT_TRUE(error.LogLastMessage()) << "an empty list";
    for (const char* text : {"a\n", "b\n", "c\n"}) error.AddError(Record(text));
    EXPECT_TRUE(error.LogLastMessage());
    EXPECT_TRUE(error.LogMessages());
    EXPECT_EQ(lines, (std::vector<std::string>{"c\n"}));
}

TEST_F(ErrorRecords, ARefusedLineFailsTheWalkButIsNotRepeated)
{
    std::vector<std::string> refused;
    ASSERT_TRUE(theLogger()->SetLogOutput(new RecordingOutput(refused, false)));
    CKrError error;
    error.AddError(Record("x\n"));
    error.AddError(Record("y\n"));
    EXPECT_FALSE(error.LogMessages());
    EXPECT_EQ(refused, (std::vector<std::string>{"x\n", "y\n"})) << "a failure does not stop the walk";
    theLogger()->DisableLog();
    error.AddError(Record("z\n"));
    EXPECT_FALSE(error.LogMessages()) << "no error output: the line is not accepted";
    EXPECT_TRUE(error.LogMessages()) << "records already tried are not tried again";
}

TEST_F(ErrorRecords, CopyAndAssignmentMoveTheRecordsAndSetErrorKeepsOne)
{
    CKrError a;
    a.AddError(Record("a1\n", 1));
    a.AddError(Record("a2\n", 2));
    CKrError b(a);
    EXPECT_EQ(a.GetLastError(), 0u) << "the copy took the records";
    EXPECT_EQ(b.GetLastError(), 2u);

    CKrError c;
    c.AddError(Record("c1\n", 3));
    b = c;  // a1 and a2 are deleted (a leak or a double delete shows under ASan)
    EXPECT_EQ(c.GetLastError(), 0u);
    EXPECT_EQ(b.GetLastError(), 3u);
    CKrError& same = b;
    b = same;  // assigning a list to itself keeps its records
    EXPECT_EQ(b.GetLastError(), 3u);

    b.AddError(Record("b2\n", 4));
    CKrErrData* only = Record("only\n", 5);
    b.SetError(only);
    EXPECT_EQ(b.GetLastError(), 5u);
    b.SetError(only);  // a record it holds already survives
    b.AddError(only);  // and is not linked twice
    EXPECT_TRUE(b.LogMessages());
    EXPECT_EQ(lines, (std::vector<std::string>{"only\n"}));
    b.AddError(nullptr);
    EXPECT_EQ(b.GetLastError(), 5u);
}

}  // namespace

namespace {

// A record is linked into one list once: adding it again, to the same or to
// another list, would cut that list behind it and delete the record twice.
TEST_F(ErrorRecords, ARecordHeldByAListIsNotLinkedAgainAnywhere)
{
    CKrError a, b;
    CKrErrData* middle = Record("a2\n", 2);
    a.AddError(Record("a1\n", 1));
    a.AddError(middle);
    a.AddError(Record("a3\n", 3));
    b.AddError(Record("b1\n", 4));
    a.AddError(middle);  // again into its own list
    b.AddError(middle);  // into another list
    EXPECT_EQ(b.GetLastError(), 4u);
    b.SetError(middle);  // another list's record: b is emptied, the record stays in a
    EXPECT_EQ(b.GetLastError(), 0u);
    EXPECT_EQ(a.GetLastError(), 3u);
    EXPECT_TRUE(a.LogMessages());
    EXPECT_EQ(lines, (std::vector<std::string>{"a1\n", "a2\n", "a3\n"}));
    a.SetError(middle);  // held here: it survives, alone, and is still a's
    EXPECT_EQ(a.GetLastError(), 2u);
    b.AddError(middle);
    EXPECT_EQ(b.GetLastError(), 0u);
}

}  // namespace
