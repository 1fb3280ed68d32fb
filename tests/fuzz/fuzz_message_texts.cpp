// Message texts with arbitrary catalogue texts, formats and arguments: the
// in-place "%s" substitution, the bounded component and trace texts, the
// unbounded audit texts and the translated path must stay inside their
// buffers and produce lines of the documented shape.
//
// Input: byte 0 = argument count (mod 16) and byte 1 = destination size for
// PreformatMessage; the rest, split at NUL bytes, is the catalogue text and
// then the arguments.
#include <krerrlog/logger/CKrErrLogTableComponent.h>
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/support/internal/KrSafeFormat.h>

#include "../testsupport/LoggerTestPeer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr unsigned int kId = KrMessageId(7, KR_SEVERITY_ERROR, 1);

// Component 7 in slot 6: message 1 is the fuzzed text; its bundle has no file.
KrComponentMessage g_message = {1, ""};
CKrErrLogTableComponent g_component(7, "KrFuzzBundleWithoutFile", "Fuzz", "fuzz component", &g_message, 1);

void Check(bool ok)
{
    if (!ok) std::abort();
}

// A component line: severity word first, newline last.
bool IsErrorLine(const std::string& line)
{
    return line.rfind("[ERROR] ", 0) == 0 && line.back() == '\n';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    [[maybe_unused]] static const bool installed = (CKrLoggerTestPeer::SetSlot(*theLogger(), 6, &g_component), true);
    if (size < 2) return 0;
    const int wanted = data[0] % 16;
    const size_t outSize = data[1];

    std::vector<std::string> parts(1);
    for (size_t i = 2; i < size; ++i) {
        if (data[i]) {
            parts.back().push_back(static_cast<char>(data[i]));
        } else {
            parts.emplace_back();
        }
    }
    const std::string& text = parts[0];
    std::vector<char*> inPlace;
    std::vector<const char*> texts;
    for (size_t i = 1; i < parts.size(); ++i) {
        inPlace.push_back(parts[i].data());
        texts.push_back(parts[i].c_str());
    }
    const int count = static_cast<int>(texts.size()) < wanted ? static_cast<int>(texts.size()) : wanted;
    g_message.text = text.c_str();

    CKrErrLogMessage message(false);
    Check(message.FormatLogMessage(static_cast<int>(kId), inPlace.data(), count));
    Check(IsErrorLine(std::string(message.GetBuffer(), message.GetBufferLen())));

    message.CleanUpMessage();
    Check(message.FormatLogMessageVA(static_cast<int>(kId), count, texts.data()));
    Check(IsErrorLine(std::string(message.GetBuffer(), message.GetBufferLen())) &&
          message.GetBufferLen() <= 8 + 4095 + 1);

    message.CleanUpMessage();
    const int full = safe_snprintf_impl(nullptr, 0, text.c_str(), count, texts.data());
    // An audit text is never cut, so a huge width is really allocated: keep
    // the fuzzer within memory by auditing only texts of a sane size.
    if (full <= (1 << 20)) {
        const bool audited = message.FormatAuditMessageVA(text.c_str(), count, texts.data());
        Check(audited == !text.empty());
        if (audited) Check(message.GetBufferLen() == (full < 0 ? 0 : full));
    }

    const char* traced = CKrErrLogMessage::FormatTraceMessageVA(text.c_str(), count, texts.data());
    Check(traced && std::strlen(traced) <= 4095);
    CKrErrLogMessage::FreeFormattedMessage(traced);

    message.ClearArguments();
    for (int i = 0; i < count; ++i) message.AddArgument(texts[i]);
    std::vector<char> out(outSize + 1, '#');
    const char* key = message.PreformatMessage(kId, "en", outSize ? out.data() : nullptr, outSize);
    Check(key && std::strcmp(key, text.c_str()) == 0);  // no bundle file: the text is the key
    if (outSize) Check(std::memchr(out.data(), '\0', outSize) != nullptr);
    Check(out[outSize] == '#');

    message.FormatLogProlog("fuzz.cpp", 1, 0);
    const char* translated = message.FormatMessageA(kId);
    Check(translated && *translated && translated[std::strlen(translated) - 1] == '\n');
    Check(message.FormatMessageForTrace(kId)[0] == '[');
    return 0;
}
