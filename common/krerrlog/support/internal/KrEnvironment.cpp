#include <krerrlog/support/internal/KrEnvironment.h>

#include <krerrlog/support/platform/KrForkSafety.h>
#include <krerrlog/support/internal/KrMemoryPolicy.h>
#include <krerrlog/support/internal/KrNeverDestroyed.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

CKrGetEnv::CKrGetEnv(const char* name) : m_bSet(false)
{
    const char* value = name ? std::getenv(name) : nullptr;
    // A value there is no memory to copy reads as unset.
    if (value) m_bSet = krerrlog::NoThrowDone([&] { m_value = value; });
}

CKrGetEnv::~CKrGetEnv() = default;

namespace {

constexpr size_t kLocaleCapacity = 64;

struct AdminLocale {
    std::mutex mutex;
    // Two slots, so a caller still reading the old text is never overwritten
    // by the very next change.
    char texts[2][kLocaleCapacity] = {{0}, {0}};
    int current = 0;
    bool known = false;
    // Read without the lock: release store after the text is written, acquire load.
    std::atomic<const char*> published{nullptr};
};

AdminLocale& TheAdminLocale()
{
    static krerrlog::NeverDestroyed<AdminLocale> locale;
    static const bool registered = krerrlog::RegisterForkSafeLock(krerrlog::kForkOrderLeaf, locale.Get().mutex);
    (void)registered;
    return locale.Get();
}

void Store(AdminLocale& state, const char* text)
{
    int next = state.known ? 1 - state.current : 0;
    size_t n = std::min(std::strlen(text), kLocaleCapacity - 1);
    std::memcpy(state.texts[next], text, n);
    state.texts[next][n] = '\0';
    state.current = next;
    state.known = true;
    state.published.store(state.texts[next], std::memory_order_release);
}

void ReadFromEnvironment(AdminLocale& state)
{
    const char* value = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        value = std::getenv(name);
        if (value && *value) break;
        value = nullptr;
    }
    char text[kLocaleCapacity] = "en";
    if (value && std::strcmp(value, "C") != 0 && std::strcmp(value, "POSIX") != 0 &&
        std::strncmp(value, "C.", 2) != 0) {
        size_t n = std::strcspn(value, ".@");
        if (n > 0 && n < kLocaleCapacity) {
            std::memcpy(text, value, n);
            text[n] = '\0';
        }
    }
    Store(state, text);
}

}  // namespace

const char* KrGetAdminLocale()
{
    AdminLocale& state = TheAdminLocale();
    if (const char* text = state.published.load(std::memory_order_acquire)) return text;
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.known) ReadFromEnvironment(state);
    return state.texts[state.current];
}

namespace krerrlog {
void SetAdminLocale(const char* locale)
{
    AdminLocale& state = TheAdminLocale();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (locale) {
        Store(state, locale);
    } else {
        ReadFromEnvironment(state);
    }
}
}  // namespace krerrlog

void number2string(unsigned long long value, char* out)
{
    if (!out) return;
    // Two digits per division, written from the end: trace calls turn several
    // numbers into text each.
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    int count = 1;
    for (unsigned long long bound = 10; count < 20 && value >= bound; bound *= 10) ++count;
    out[count] = '\0';
    char* at = out + count;
    while (value >= 100) {
        const unsigned pair = static_cast<unsigned>(value % 100) * 2;
        value /= 100;
        *--at = kPairs[pair + 1];
        *--at = kPairs[pair];
    }
    if (value >= 10) {
        const unsigned pair = static_cast<unsigned>(value) * 2;
        *--at = kPairs[pair + 1];
        *--at = kPairs[pair];
    } else {
        *--at = static_cast<char>('0' + value);
    }
}
