#include <krerrlog/output/internal/KrInMemoryDump.h>

#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/output/CKrFileOutput.h>
#include <krerrlog/output/internal/KrInMemoryTraceArea.h>
#include <krerrlog/support/internal/KrFileOps.h>
#include <krerrlog/support/platform/KrPlatformClock.h>
#include <krerrlog/support/platform/KrPlatformFiles.h>
#include <krerrlog/support/platform/KrPlatformThread.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace krerrlog {

namespace {

constexpr size_t kNameCapacity = kLongestPath;

const char* NamePart(int kind)
{
    switch (kind) {
    case kDumpCrashStack:
        return "crash.pstack";
    case kDumpOnRequest:
        return "dump.inmem_trace";
    case kDumpAtCrash:
        return "crash.inmem_trace";
    default:
        return "unknown";
    }
}

// The error log's name up to and including the dot of its extension. A dot in
// a folder name is no extension: such a name is taken whole, so the stack file
// lands beside the error log and not in a parent folder.
bool ErrorLogPrefix(char* out, size_t size)
{
    out[0] = '\0';
    CKrLogger* logger = theLogger();
    CKrLogOutput* output = logger ? logger->GetLogOutput() : nullptr;
    if (!output || output->GetType() != KR_OUTPUT_FILE) return true;
    const char* name = static_cast<CKrFileOutput*>(output)->GetFileName();
    const char* slash = std::strrchr(name, '/');
    const char* dot = std::strrchr(slash ? slash : name, '.');
    const size_t length = dot ? static_cast<size_t>(dot - name) + 1 : std::strlen(name);
    if (length >= size) return false;
    std::memcpy(out, name, length);
    out[length] = '\0';
    return true;
}

}  // namespace

int OpenDumpFile(int kind)
{
    char prefix[kNameCapacity];
    const bool havePrefix = kind == kDumpCrashStack
                                ? ErrorLogPrefix(prefix, sizeof prefix)
                                : InMemoryTraceArea::Process().CopyDumpPrefix(prefix, sizeof prefix,
                                                                              kind != kDumpOnRequest);
    if (!havePrefix) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const CalendarTime now = ReadCalendarTime(true);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "_%04d%02d%02d_%02d%02d%02d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    char name[kNameCapacity];
    const int length =
        std::snprintf(name, sizeof name, "%s%s_%d_%s.txt", prefix, NamePart(kind), CurrentProcessId(), stamp);
    if (length < 0 || static_cast<size_t>(length) >= sizeof name) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return KrOpen(name, KR_O_WRONLY | KR_O_CREAT | KR_O_TRUNC, KR_S_IREAD | KR_S_IWRITE);
}

bool WriteInMemoryTrace(int kind)
{
    if (kind != kDumpOnRequest && kind != kDumpAtCrash) return false;
    InMemoryTraceArea& area = InMemoryTraceArea::Process();
    if (!area.Area()) return true;
    const int fd = OpenDumpFile(kind);
    if (fd < 0) return false;
    const bool written = area.WriteDump(fd, kind == kDumpAtCrash);
    FileClose(fd);
    return written;
}

}  // namespace krerrlog
