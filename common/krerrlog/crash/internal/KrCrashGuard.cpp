#include <krerrlog/crash/internal/KrCrashGuard.h>

#include <atomic>

namespace krerrlog {

namespace {

sigjmp_buf g_jump;
std::atomic<bool> g_active{false};  // release/acquire: the jump buffer is set before it

}  // namespace

sigjmp_buf& CrashGuardJump() { return g_jump; }
void BeginCrashGuard() { g_active.store(true, std::memory_order_release); }
void EndCrashGuard() { g_active.store(false, std::memory_order_release); }
bool InCrashGuard() { return g_active.load(std::memory_order_acquire); }

}  // namespace krerrlog
