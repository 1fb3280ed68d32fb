#include <krerrlog/support/internal/KrFileOps.h>

#include <krerrlog/support/internal/KrNeverDestroyed.h>
#include <krerrlog/support/platform/KrForkSafety.h>
#include <krerrlog/support/platform/KrPlatformFiles.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace krerrlog {
namespace {

struct Fault {
    FileOp op;
    int error;
    int remaining;
    std::string pathPart;
};

// Injected faults are rare (tests only); the flag keeps the normal path free of
// the lock. Release when set, acquire when read: the faults are then read under g_faultMutex.
std::atomic<bool> g_anyFault{false};
std::mutex g_faultMutex;
std::vector<Fault>& Faults()
{
    static NeverDestroyed<std::vector<Fault>> faults;
    return faults.Get();
}

// True (with errno set) when an injected fault claims this call.
bool TakeFault(FileOp op, const char* path)
{
    if (!g_anyFault.load(std::memory_order_acquire)) return false;
    std::lock_guard<std::mutex> lock(g_faultMutex);
    for (auto& fault : Faults()) {
        if (fault.op != op || fault.remaining <= 0) continue;
        if (!fault.pathPart.empty() && (!path || !std::strstr(path, fault.pathPart.c_str()))) continue;
        --fault.remaining;
        errno = fault.error;
        return true;
    }
    return false;
}

}  // namespace

void InjectFileFault(FileOp op, int error, int times, const char* pathPart)
{
    static const bool forkSafe = RegisterForkSafeLock(kForkOrderLeaf, g_faultMutex);
    (void)forkSafe;
    std::lock_guard<std::mutex> lock(g_faultMutex);
    Faults().push_back(Fault{op, error, times, pathPart ? pathPart : ""});
    g_anyFault.store(true, std::memory_order_release);
}

void ClearFileFaults()
{
    std::lock_guard<std::mutex> lock(g_faultMutex);
    Faults().clear();
    g_anyFault.store(false, std::memory_order_release);
}

std::ptrdiff_t FileWrite(int fd, const void* data, size_t count)
{
    if (TakeFault(FileOp::Write, nullptr)) return -1;
    size_t limit = count;
    int shortError = 0;
    if (TakeFault(FileOp::ShortWrite, nullptr)) {
        shortError = errno;
        limit = count / 2;
        if (limit == 0) return -1;
    }
    const long long done = PlatformWrite(fd, data, limit);
    if (shortError != 0 && done == static_cast<long long>(limit)) errno = shortError;
    return static_cast<std::ptrdiff_t>(done);
}

int FileClose(int fd)
{
    if (TakeFault(FileOp::Close, nullptr)) {
        PlatformClose(fd);  // the descriptor is gone either way, as with a real failing close
        return -1;
    }
    return PlatformClose(fd);
}

long long FileSize(int fd)
{
    PlatformFileInfo info{};
    return PlatformInfoOf(fd, info) ? info.size : -1;
}

}  // namespace krerrlog

using krerrlog::FileOp;
using krerrlog::TakeFault;

int KrOpen(const char* path, int flags, int permission)
{
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    if (TakeFault(FileOp::Open, path)) return -1;
    return krerrlog::PlatformOpen(path, flags, permission);
}

int KrAccess(const char* path, int mode)
{
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    if (TakeFault(FileOp::Access, path)) return -1;
    return krerrlog::PlatformAccess(path, mode) ? 0 : -1;
}

int KrRename(const char* from, const char* to)
{
    if (!from || !to) {
        errno = EINVAL;
        return -1;
    }
    if (TakeFault(FileOp::Rename, from)) return -1;
    return krerrlog::PlatformRenameNoReplace(from, to);
}

int KrUnlink(const char* path)
{
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    if (TakeFault(FileOp::Unlink, path)) return -1;
    return krerrlog::PlatformUnlink(path);
}
