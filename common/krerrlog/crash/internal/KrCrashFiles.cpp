#include <krerrlog/crash/internal/KrCrashFiles.h>

#include <krerrlog/crash/internal/KrCrashClock.h>
#include <krerrlog/crash/internal/KrCrashGuard.h>
#include <krerrlog/crash/internal/KrCrashText.h>
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/output/CKrFileOutput.h>
#include <krerrlog/output/internal/KrInMemoryDump.h>
#include <krerrlog/output/internal/KrInMemoryTraceArea.h>
#include <krerrlog/support/platform/KrPlatformClock.h>
#include <krerrlog/support/platform/KrPlatformFiles.h>
#include <krerrlog/support/platform/KrPlatformThread.h>

#include <ctime>

namespace krerrlog {

namespace {

const char* NamePart(int kind)
{
    return kind == kDumpCrashStack ? "crash.pstack" : kind == kDumpAtCrash ? "crash.inmem_trace" : "unknown";
}

// The error log's name up to and including the dot of its extension (whole
// without one), empty without a file error log. The output may be replaced by
// another thread meanwhile: the read is guarded, and a torn read gives no
// prefix rather than a second fault.
bool ErrorLogPrefix(CrashText& out)
{
    bool fits = true;
    const bool read = RunGuarded([&out, &fits] {
        CKrLogger* logger = theLogger();
        CKrLogOutput* output = logger ? logger->GetLogOutput() : nullptr;
        if (!output || output->GetType() != KR_OUTPUT_FILE) return;
        const char* name = static_cast<CKrFileOutput*>(output)->GetFileName();
        size_t length = 0, afterSlash = 0, dot = 0;
        for (; name[length] != '\0'; ++length) {
            if (name[length] == '/') afterSlash = length + 1, dot = 0;
            if (name[length] == '.' && length >= afterSlash) dot = length + 1;
        }
        fits = out.Append(name, dot != 0 ? dot : length);
    });
    if (!read) out.Clear();
    return fits;
}

}  // namespace

void PrepareCrashFiles() { PrepareCrashClock(time(nullptr)); }

bool CrashFileName(int kind, char* out, size_t size)
{
    CrashText name(out, size);
    if (kind == kDumpCrashStack) {
        if (!ErrorLogPrefix(name)) return false;
    } else {
        char prefix[kLongestPath];
        if (!InMemoryTraceArea::Process().CopyDumpPrefix(prefix, sizeof prefix, true)) prefix[0] = '\0';
        if (!name.Append(prefix)) return false;
    }
    const CalendarTime now = CrashLocalTimeNow();
    return name.Append(NamePart(kind)) && name.Append("_") && name.AppendDecimal(CurrentProcessId()) && name.Append("__") &&
           name.AppendDecimal(now.year, 4) && name.AppendDecimal(now.month, 2) && name.AppendDecimal(now.day, 2) &&
           name.Append("_") && name.AppendDecimal(now.hour, 2) && name.AppendDecimal(now.minute, 2) &&
           name.AppendDecimal(now.second, 2) && name.Append(".txt");
}

int OpenCrashFile(int kind)
{
    char name[kLongestPath];
    if (!CrashFileName(kind, name, sizeof name)) return -1;
    return PlatformCreateForCrash(name);
}

bool WriteCrashBytes(int fd, const char* data, size_t length)
{
    return PlatformWrite(fd, data, length) == static_cast<long long>(length);
}

void DumpInMemoryTraceAtCrash()
{
    InMemoryTraceArea& area = InMemoryTraceArea::Process();
    if (!area.Area()) return;
    const int fd = OpenCrashFile(kDumpAtCrash);
    if (fd < 0) return;
    area.WriteDump(fd, true);
    PlatformClose(fd);
}

}  // namespace krerrlog
