// A host program built against the installed library.
#include <krerrlog/krerrlog.h>

#include <cstdio>
#include <cstring>

namespace {
int failures = 0;
void Expect(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "consumer: %s\n", what);
        ++failures;
    }
}
}  // namespace

int main()
{
    CKrLogger* logger = theLogger();
    Expect(logger != nullptr && logger->Inited(), "theLogger() is initialised");
    Expect(logger == theLogger(), "theLogger() is one object");
    Expect(std::strcmp(getProductVersion(), "Krynex version 12.8.0801.3003 [krerrlog.dll in common]") == 0,
           "product version");

    CKrErrLogMessage message(false);
    message.FormatLogProlog("src/server/main.cpp", 120, 0);
    const char* text = message.GetBuffer();
    Expect(text[0] == '[' && std::strstr(text, "][main.cpp:120]") != nullptr, "prolog ends with the file part");
    Expect(message.GetBufferLen() == static_cast<int>(std::strlen(text)), "buffer length");

    CKrErrLogGuard guard;
    {
        CKrErrLogAutoReader a(&guard);
        CKrErrLogAutoReader b(&guard);
    }
    CKrErrLogAutoWriter w(&guard);

    tm now{};
    long ms = -1;
    Expect(KrErrLogGetCurrentTime(false, now, ms) && ms >= 0 && ms < 1000, "clock");

    if (failures == 0) std::printf("consumer: ok\n");
    return failures == 0 ? 0 : 1;
}
