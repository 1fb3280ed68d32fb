// A host program built against the installed library.
#include <krerrlog/krerrlog.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

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

    // A host names the folder of its bundles; a missing folder is refused.
    Expect(!CKrXlate::SetResourceDirectory("/nonexistent/krerrlog-bundles"), "missing bundle folder refused");
    Expect(CKrXlate::SetResourceDirectory("/tmp"), "bundle folder set");

    // Catalogue texts of the built-in component and the fixed fallbacks.
    Expect(logger->FetchMsg(0x01000002) && std::strcmp(logger->FetchMsg(0x01000002), "%1s") == 0, "built-in text");
    CKrErrLogMessage line(false);
    line.FormatLogProlog("host.cpp", 7, 0);
    line.FormatLogMessage(0x0100C001, "disk full");
    Expect(std::strstr(line.GetBuffer(), "][host.cpp:7][ERROR] disk full\n") != nullptr, "component text line");
    line.FormatLogProlog("host.cpp", 8, 0);
    Expect(line.FormatMessageA(0x1B00C001) != nullptr &&
               std::strstr(line.GetBuffer(), "[ERROR][kr-log-00001] missing component library\n") != nullptr,
           "fallback for an id without a component");

    // An error line into a rolling file, read back.
    char folder[] = "/tmp/krerrlog-consumer-XXXXXX";
    if (mkdtemp(folder)) {
        const std::string path = std::string(folder) + "/error.log";
        Expect(logger->SetLogOutput(logger->NewLogOutput(0, path.c_str(), 3, 1, 2)), "file output attached");
        line.FormatLogProlog("host.cpp", 9, 0);
        line.FormatLogMessage(0x0100C001, "written to a file");
        Expect(logger->LogErrMsg(line), "line logged");
        logger->DisableLog();
        std::ifstream in(path);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Expect(content == line.GetBuffer(), "the file holds exactly the line");
        std::remove(path.c_str());
        rmdir(folder);
    }

    if (failures == 0) std::printf("consumer: ok\n");
    return failures == 0 ? 0 : 1;
}
