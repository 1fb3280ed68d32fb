#include <krerrlog/support/internal/KrFileOps.h>

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

int Open(const std::string& path, int flags, int permission = 0x180)
{
    const int fd = KrOpen(path.c_str(), flags, permission);
    EXPECT_GE(fd, 0) << path;
    return fd;
}

void WriteText(int fd, const std::string& text)
{
    ASSERT_EQ(krerrlog::FileWrite(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// Expects the call to fail with -1 and the given errno.
#define EXPECT_FAILS_WITH(call, error) \
    do {                               \
        errno = 0;                     \
        EXPECT_EQ((call), -1);         \
        EXPECT_EQ(errno, (error));     \
    } while (0)

TEST(FileOps, OpenCreatesOwnerOnlyFilesWhateverTheUmaskOrPermission)
{
    krtest::ScratchDir dir;
    const mode_t old = umask(0);
    const int fd = Open(dir.File("log"), kTruncate);
    const int wide = Open(dir.File("wide"), kTruncate, 0x1FF);
    umask(old);
    EXPECT_EQ(krtest::FileMode(dir.File("log")), 0600);
    EXPECT_EQ(krtest::FileMode(dir.File("wide")), 0600);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "descriptors must not leak into child processes";
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_WRONLY);
    EXPECT_EQ(krerrlog::FileClose(fd), 0);
    EXPECT_EQ(krerrlog::FileClose(wide), 0);
    EXPECT_FAILS_WITH(KrOpen(dir.File("no/such/folder/f").c_str(), kTruncate, 0x180), ENOENT);
    EXPECT_FAILS_WITH(KrOpen(nullptr, kTruncate, 0x180), EINVAL);
}

TEST(FileOps, OpenFlagsTruncateAndAppend)
{
    krtest::ScratchDir dir;
    const std::string path = dir.File("trace.log");
    for (const char* text : {"first content\n", "one\n"}) {  // 0x301 truncates an existing file
        const int fd = Open(path, kTruncate);
        WriteText(fd, text);
        krerrlog::FileClose(fd);
    }
    // 0x109 appends, also when another descriptor wrote in between.
    int a = Open(path, kAppend);
    const int b = Open(path, kAppend);
    EXPECT_NE(fcntl(a, F_GETFL) & O_APPEND, 0);
    WriteText(a, "two\n");
    WriteText(b, "three\n");
    WriteText(a, "four\n");
    EXPECT_EQ(krerrlog::FileSize(a), 19);
    krerrlog::FileClose(a);
    krerrlog::FileClose(b);
    EXPECT_EQ(krtest::ReadFile(path), "one\ntwo\nthree\nfour\n");

    // 0x309 truncates and then appends.
    a = Open(path, kTruncateAppend);
    const int other = Open(path, kAppend);
    WriteText(other, "x\n");
    krerrlog::FileClose(other);
    WriteText(a, "y\n");
    krerrlog::FileClose(a);
    EXPECT_EQ(krtest::ReadFile(path), "x\ny\n");

    // 0x109 creates a missing file.
    krerrlog::FileClose(Open(dir.File("new.log"), kAppend));
    EXPECT_EQ(krtest::FileMode(dir.File("new.log")), 0600);
}

TEST(FileOps, AccessRenameAndUnlinkReportWhatFailed)
{
    krtest::ScratchDir dir;
    krtest::WriteFile(dir.File("current.log"), "current");
    krtest::WriteFile(dir.File("backup.log"), "older backup");
    EXPECT_EQ(KrAccess(dir.File("current.log").c_str(), 0), 0);
    EXPECT_EQ(KrAccess(dir.Path().c_str(), 0), 0);
    EXPECT_FAILS_WITH(KrAccess(dir.File("missing").c_str(), 0), ENOENT);
    EXPECT_EQ(KrAccess(nullptr, 0), -1);

    // A rename never replaces an existing file.
    EXPECT_FAILS_WITH(KrRename(dir.File("current.log").c_str(), dir.File("backup.log").c_str()), EEXIST);
    EXPECT_EQ(krtest::ReadFile(dir.File("current.log")), "current");
    EXPECT_EQ(krtest::ReadFile(dir.File("backup.log")), "older backup");
    EXPECT_EQ(KrRename(dir.File("current.log").c_str(), dir.File("backup2.log").c_str()), 0);
    EXPECT_EQ(KrAccess(dir.File("current.log").c_str(), 0), -1);
    EXPECT_EQ(krtest::ReadFile(dir.File("backup2.log")), "current");
    EXPECT_FAILS_WITH(KrRename(dir.File("gone.log").c_str(), dir.File("other.log").c_str()), ENOENT);
    EXPECT_EQ(KrRename(nullptr, dir.File("x").c_str()), -1);

    EXPECT_EQ(KrUnlink(dir.File("backup.log").c_str()), 0);
    EXPECT_EQ(KrAccess(dir.File("backup.log").c_str(), 0), -1);
    EXPECT_FAILS_WITH(KrUnlink(dir.File("backup.log").c_str()), ENOENT);
}

TEST(FileOps, InjectedFaultsFailTheNamedCallsThenClear)
{
    struct FaultScope {  // clears injected faults even when the test stops early
        ~FaultScope() { krerrlog::ClearFileFaults(); }
    } scope;
    krtest::ScratchDir dir;
    krtest::WriteFile(dir.File("a.log"), "a");
    krtest::WriteFile(dir.File("b.log"), "b");

    // A rename refused as by a permission, once; then it works.
    krerrlog::InjectFileFault(krerrlog::FileOp::Rename, EACCES);
    EXPECT_FAILS_WITH(KrRename(dir.File("a.log").c_str(), dir.File("a.1").c_str()), EACCES);
    EXPECT_EQ(krtest::ReadFile(dir.File("a.log")), "a") << "a refused rename leaves the file";
    EXPECT_EQ(KrRename(dir.File("a.log").c_str(), dir.File("a.1").c_str()), 0);

    // Only paths containing the given part fail; the fault lasts `times` calls.
    krerrlog::InjectFileFault(krerrlog::FileOp::Unlink, EBUSY, 2, "b.log");
    EXPECT_EQ(KrUnlink(dir.File("a.1").c_str()), 0);
    EXPECT_FAILS_WITH(KrUnlink(dir.File("b.log").c_str()), EBUSY);
    EXPECT_EQ(KrUnlink(dir.File("b.log").c_str()), -1);
    EXPECT_EQ(krtest::ReadFile(dir.File("b.log")), "b");
    EXPECT_EQ(KrUnlink(dir.File("b.log").c_str()), 0);

    // A failing write, then a working one on the same descriptor.
    const int fd = Open(dir.File("w.log"), kTruncate);
    krerrlog::InjectFileFault(krerrlog::FileOp::Write, ENOSPC);
    EXPECT_FAILS_WITH(krerrlog::FileWrite(fd, "lost", 4), ENOSPC);
    EXPECT_EQ(krerrlog::FileWrite(fd, "kept", 4), 4);
    krerrlog::FileClose(fd);
    EXPECT_EQ(krtest::ReadFile(dir.File("w.log")), "kept");

    // Open and access faults; ClearFileFaults drops what is left.
    krerrlog::InjectFileFault(krerrlog::FileOp::Open, EMFILE, 5);
    krerrlog::InjectFileFault(krerrlog::FileOp::Access, EACCES, 5);
    EXPECT_FAILS_WITH(KrOpen(dir.File("o.log").c_str(), kTruncate, 0x180), EMFILE);
    EXPECT_EQ(KrAccess(dir.File("w.log").c_str(), 0), -1);
    krerrlog::ClearFileFaults();
    const int again = Open(dir.File("o.log"), kTruncate);
    if (again >= 0) krerrlog::FileClose(again);
    EXPECT_EQ(KrAccess(dir.File("w.log").c_str(), 0), 0);
}

}  // namespace
