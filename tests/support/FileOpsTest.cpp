#include <krerrlog/support/KrFileOps.h>

#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kTruncate = 0x301;        // write only, create, truncate
constexpr int kTruncateAppend = 0x309;  // write only, create, truncate, append
constexpr int kAppend = 0x109;          // write only, create, append
constexpr int kOwnerReadWrite = 0x180;

void WriteText(int fd, const std::string& text)
{
    ASSERT_EQ(krerrlog::FileWrite(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// Clears injected faults even when a test stops early.
struct FaultScope {
    ~FaultScope() { krerrlog::ClearFileFaults(); }
};

TEST(FileOps, OpenCreatesOwnerOnlyFilesWhateverTheUmaskOrPermission)
{
    krtest::ScratchDir dir;
    const mode_t old = umask(0);
    const int fd = KrOpen(dir.File("log").c_str(), kTruncate, kOwnerReadWrite);
    const int wide = KrOpen(dir.File("wide").c_str(), kTruncate, 0x1FF);
    umask(old);
    ASSERT_GE(fd, 0);
    ASSERT_GE(wide, 0);
    EXPECT_EQ(krtest::FileMode(dir.File("log")), 0600);
    EXPECT_EQ(krtest::FileMode(dir.File("wide")), 0600);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "descriptors must not leak into child processes";
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_WRONLY);
    EXPECT_EQ(krerrlog::FileClose(fd), 0);
    EXPECT_EQ(krerrlog::FileClose(wide), 0);
}

// Opens the file with the given flags and writes the texts in turn.
void OpenAndWrite(const std::string& path, int flags, std::initializer_list<const char*> texts = {})
{
    const int fd = KrOpen(path.c_str(), flags, kOwnerReadWrite);
    ASSERT_GE(fd, 0) << path;
    for (const char* text : texts) WriteText(fd, text);
    EXPECT_EQ(krerrlog::FileClose(fd), 0);
}

TEST(FileOps, OpenFlagsTruncateAndAppend)
{
    krtest::ScratchDir dir;
    const std::string path = dir.File("trace.log");
    OpenAndWrite(path, kTruncate, {"first content\n"});
    OpenAndWrite(path, kTruncate, {"one\n"});  // 0x301 truncates an existing file
    EXPECT_EQ(krtest::ReadFile(path), "one\n");

    // 0x109 appends, also when another descriptor wrote in between.
    int a = KrOpen(path.c_str(), kAppend, kOwnerReadWrite);
    int b = KrOpen(path.c_str(), kAppend, kOwnerReadWrite);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_NE(fcntl(a, F_GETFL) & O_APPEND, 0);
    WriteText(a, "two\n");
    WriteText(b, "three\n");
    WriteText(a, "four\n");
    EXPECT_EQ(krerrlog::FileSize(a), 19);
    krerrlog::FileClose(a);
    krerrlog::FileClose(b);
    EXPECT_EQ(krtest::ReadFile(path), "one\ntwo\nthree\nfour\n");

    // 0x309 truncates and then appends.
    a = KrOpen(path.c_str(), kTruncateAppend, kOwnerReadWrite);
    ASSERT_GE(a, 0);
    OpenAndWrite(path, kAppend, {"x\n"});
    WriteText(a, "y\n");
    krerrlog::FileClose(a);
    EXPECT_EQ(krtest::ReadFile(path), "x\ny\n");

    // 0x109 creates a missing file.
    OpenAndWrite(dir.File("new.log"), kAppend);
    EXPECT_EQ(krtest::FileMode(dir.File("new.log")), 0600);
}

TEST(FileOps, OpenFailuresSetErrno)
{
    krtest::ScratchDir dir;
    errno = 0;
    EXPECT_EQ(KrOpen(dir.File("no/such/folder/f").c_str(), kTruncate, kOwnerReadWrite), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(KrOpen(nullptr, kTruncate, kOwnerReadWrite), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST(FileOps, AccessReportsMissingFilesWithEnoent)
{
    krtest::ScratchDir dir;
    krtest::WriteFile(dir.File("there"), "x");
    EXPECT_EQ(KrAccess(dir.File("there").c_str(), 0), 0);
    EXPECT_EQ(KrAccess(dir.Path().c_str(), 0), 0);
    errno = 0;
    EXPECT_EQ(KrAccess(dir.File("missing").c_str(), 0), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(KrAccess(nullptr, 0), -1);
}

TEST(FileOps, RenameNeverReplacesAnExistingFile)
{
    krtest::ScratchDir dir;
    krtest::WriteFile(dir.File("current.log"), "current");
    krtest::WriteFile(dir.File("backup.log"), "older backup");
    errno = 0;
    EXPECT_EQ(KrRename(dir.File("current.log").c_str(), dir.File("backup.log").c_str()), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(krtest::ReadFile(dir.File("current.log")), "current");
    EXPECT_EQ(krtest::ReadFile(dir.File("backup.log")), "older backup");

    EXPECT_EQ(KrRename(dir.File("current.log").c_str(), dir.File("backup2.log").c_str()), 0);
    EXPECT_EQ(KrAccess(dir.File("current.log").c_str(), 0), -1);
    EXPECT_EQ(krtest::ReadFile(dir.File("backup2.log")), "current");

    errno = 0;
    EXPECT_EQ(KrRename(dir.File("gone.log").c_str(), dir.File("other.log").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(KrRename(nullptr, dir.File("x").c_str()), -1);
}

TEST(FileOps, UnlinkRemovesAndReportsMissingFiles)
{
    krtest::ScratchDir dir;
    krtest::WriteFile(dir.File("old.log"), "x");
    EXPECT_EQ(KrUnlink(dir.File("old.log").c_str()), 0);
    EXPECT_EQ(KrAccess(dir.File("old.log").c_str(), 0), -1);
    errno = 0;
    EXPECT_EQ(KrUnlink(dir.File("old.log").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(FileOps, InjectedFaultsFailTheNamedCallsThenClear)
{
    FaultScope scope;
    krtest::ScratchDir dir;
    krtest::WriteFile(dir.File("a.log"), "a");
    krtest::WriteFile(dir.File("b.log"), "b");

    // A rename refused as by a permission, once; then it works.
    krerrlog::InjectFileFault(krerrlog::FileOp::Rename, EACCES);
    errno = 0;
    EXPECT_EQ(KrRename(dir.File("a.log").c_str(), dir.File("a.1").c_str()), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(krtest::ReadFile(dir.File("a.log")), "a") << "a refused rename leaves the file";
    EXPECT_EQ(KrRename(dir.File("a.log").c_str(), dir.File("a.1").c_str()), 0);

    // Only paths containing the given part fail; the fault lasts `times` calls.
    krerrlog::InjectFileFault(krerrlog::FileOp::Unlink, EBUSY, 2, "b.log");
    EXPECT_EQ(KrUnlink(dir.File("a.1").c_str()), 0);
    errno = 0;
    EXPECT_EQ(KrUnlink(dir.File("b.log").c_str()), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(KrUnlink(dir.File("b.log").c_str()), -1);
    EXPECT_EQ(krtest::ReadFile(dir.File("b.log")), "b");
    EXPECT_EQ(KrUnlink(dir.File("b.log").c_str()), 0);

    // A failing write, then a working one on the same descriptor.
    const int fd = KrOpen(dir.File("w.log").c_str(), kTruncate, kOwnerReadWrite);
    ASSERT_GE(fd, 0);
    krerrlog::InjectFileFault(krerrlog::FileOp::Write, ENOSPC);
    errno = 0;
    EXPECT_EQ(krerrlog::FileWrite(fd, "lost", 4), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(krerrlog::FileWrite(fd, "kept", 4), 4);
    krerrlog::FileClose(fd);
    EXPECT_EQ(krtest::ReadFile(dir.File("w.log")), "kept");

    // Open and access faults; ClearFileFaults drops what is left.
    krerrlog::InjectFileFault(krerrlog::FileOp::Open, EMFILE, 5);
    krerrlog::InjectFileFault(krerrlog::FileOp::Access, EACCES, 5);
    errno = 0;
    EXPECT_EQ(KrOpen(dir.File("o.log").c_str(), kTruncate, kOwnerReadWrite), -1);
    EXPECT_EQ(errno, EMFILE);
    EXPECT_EQ(KrAccess(dir.File("w.log").c_str(), 0), -1);
    krerrlog::ClearFileFaults();
    const int again = KrOpen(dir.File("o.log").c_str(), kTruncate, kOwnerReadWrite);
    EXPECT_GE(again, 0);
    if (again >= 0) krerrlog::FileClose(again);
    EXPECT_EQ(KrAccess(dir.File("w.log").c_str(), 0), 0);
}

}  // namespace
