#include <krerrlog/support/internal/KrFile.h>
#include <krerrlog/support/internal/KrFileOps.h>

#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

using Line = std::pair<int, std::string>;  // byte count, text

constexpr char kGuard = '\x5a';
constexpr int kGuardBytes = 32;

// Reads every line of a file with the given capacity; checks the guard bytes
// around the buffer and that each text ends within the capacity.
std::vector<Line> ReadAll(const std::string& path, int capacity)
{
    CKrFile file;
    EXPECT_TRUE(file.OpenFile(path.c_str(), 3));
    std::vector<char> memory(static_cast<size_t>(capacity) + 2 * kGuardBytes, kGuard);
    char* buffer = memory.data() + kGuardBytes;
    std::vector<Line> lines;
    for (;;) {
        const int result = file.ReadLine(buffer, capacity);
        for (int i = 0; i < kGuardBytes; ++i) {
            EXPECT_EQ(memory[i], kGuard);
            EXPECT_EQ(memory[kGuardBytes + capacity + i], kGuard) << "overrun at capacity + " << i;
        }
        if (result <= 0) {
            EXPECT_EQ(result, 0);
            break;
        }
        const void* nul = std::memchr(buffer, '\0', static_cast<size_t>(capacity));
        EXPECT_NE(nul, nullptr);
        lines.emplace_back(result, nul ? std::string(buffer) : std::string());
        if (lines.size() > 1000000) break;
    }
    // End of file stays end of file.
    EXPECT_EQ(file.ReadLine(buffer, capacity), 0);
    return lines;
}

TEST(LineReader, LineEndsCutsAndCounts)
{
    const std::string huge(100000, 'x');
    const std::string edge = "abcd\nabcde\nabcd\r\nabc\r\nabcde\r\n\n";
    const std::string a(65535, 'a'), b(65535, 'b');
    const struct {
        std::string content;
        int capacity;
        std::vector<Line> lines;
    } cases[] = {
        {"first\n\nthird line\r\n\r\nlast without end", 8092,
         {{6, "first"}, {1, ""}, {12, "third line"}, {2, ""}, {16, "last without end"}}},
        {"", 16, {}},
        // Only "\r\n" is a line end; a CR elsewhere is text.
        {"a\rb\n\r\r\nend\r", 16, {{4, "a\rb"}, {3, "\r"}, {4, "end\r"}}},
        // Overlong lines are cut and the rest skipped, their whole length counted.
        {"short\n" + huge + "\nafter\n" + huge + "\r\ntail", 8092,
         {{6, "short"}, {100001, huge.substr(0, 8091)}, {6, "after"}, {100002, huge.substr(0, 8091)}, {4, "tail"}}},
        // Capacity 5 holds 4 bytes of text; capacity 1 only the NUL.
        {edge, 5, {{5, "abcd"}, {6, "abcd"}, {6, "abcd"}, {5, "abc"}, {7, "abcd"}, {1, ""}}},
        {edge, 1, {{5, ""}, {6, ""}, {6, ""}, {5, ""}, {7, ""}, {1, ""}}},
        // The reader fills 64 KiB at a time: the CR of a CRLF ends the first chunk,
        // a line crosses the second and its LF starts the third.
        {a + "\r\n" + b + "\n" + "z\n", 70000, {{65537, a}, {65536, b}, {2, "z"}}},
    };
    krtest::ScratchDir dir;
    for (const auto& c : cases) {
        krtest::WriteFile(dir.File("f"), c.content);
        EXPECT_EQ(ReadAll(dir.File("f"), c.capacity), c.lines) << c.content.substr(0, 40);
    }
}

TEST(LineReader, NulBytesInsideALine)
{
    krtest::ScratchDir dir;
    krtest::WriteFile(dir.File("nul"), std::string("ab\0cd\nnext\n", 11));
    CKrFile file;
    ASSERT_TRUE(file.OpenFile(dir.File("nul").c_str(), 3));
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);  // the NUL after "cd" must be written
    ASSERT_EQ(file.ReadLine(buffer, sizeof buffer), 6);
    EXPECT_EQ(std::string(buffer, 6), std::string("ab\0cd\0", 6));
    ASSERT_EQ(file.ReadLine(buffer, sizeof buffer), 5);
    EXPECT_STREQ(buffer, "next");
}

TEST(LineReader, RefusesBadUseWithoutCrashing)
{
    krtest::ScratchDir dir;
    krtest::WriteFile(dir.File("f"), "line\n");
    char buffer[8];
    CKrFile file;
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), -1) << "never opened";
    EXPECT_FALSE(file.OpenFile(nullptr, 3));
    EXPECT_FALSE(file.OpenFile("", 3));
    EXPECT_FALSE(file.OpenFile(dir.File("missing").c_str(), 3));
    EXPECT_FALSE(file.OpenFile(dir.Path().c_str(), 3)) << "a folder is not a text file";
    krerrlog::InjectFileFault(krerrlog::FileOp::Open, EACCES, 1, dir.File("f").c_str());
    EXPECT_FALSE(file.OpenFile(dir.File("f").c_str(), 3)) << "refused by the file layer";
    krerrlog::ClearFileFaults();

    ASSERT_TRUE(file.OpenFile(dir.File("f").c_str(), 3));
    EXPECT_EQ(file.ReadLine(nullptr, 8), -1);
    EXPECT_EQ(file.ReadLine(buffer, 0), -1);
    EXPECT_EQ(file.ReadLine(buffer, -5), -1);
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 5);
    file.CloseFile();
    file.CloseFile();
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), -1) << "closed";

    // Reopening starts from the beginning, also after a partly read file.
    ASSERT_TRUE(file.OpenFile(dir.File("f").c_str(), 3));
    ASSERT_TRUE(file.OpenFile(dir.File("f").c_str(), 3));
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 5);
    EXPECT_STREQ(buffer, "line");
}

TEST(LineReader, DescriptorIsClosedOnExecAndOnClose)
{
    krtest::ScratchDir dir;
    krtest::WriteFile(dir.File("c.cfg"), "x\n");
    const int fd = open("/dev/null", O_RDONLY);  // open() takes the lowest free number: this one
    close(fd);
    CKrFile file;
    ASSERT_TRUE(file.OpenFile(dir.File("c.cfg").c_str(), 3));
    struct stat opened {}, onDisk {};
    ASSERT_EQ(fstat(fd, &opened), 0);
    ASSERT_EQ(stat(dir.File("c.cfg").c_str(), &onDisk), 0);
    EXPECT_EQ(opened.st_ino, onDisk.st_ino);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "a child process must not inherit it";
    file.CloseFile();
    EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "still open after CloseFile";
}

}  // namespace
