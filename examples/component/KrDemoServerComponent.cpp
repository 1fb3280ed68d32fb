// The demo's own component library, built as a product team would build one:
// it derives from the installed CKrErrLogComponent, exports GetComponentPtr and
// links nothing of the logging library. It is loaded as "krservercomponent",
// component number 5, so its message ids are 0x05xxxxxx.
#include <krerrlog/logger/CKrErrLogComponent.h>

namespace {

constexpr unsigned int Info(unsigned int n) { return (1u << 14) | n; }
constexpr unsigned int Warning(unsigned int n) { return (2u << 14) | n; }
constexpr unsigned int Error(unsigned int n) { return (3u << 14) | n; }

struct Message {
    unsigned int number;  // severity bits and message number
    const char* text;     // a bundle key (translated lines) or a format text (component lines)
};

const Message kMessages[] = {
    // Translated: keys of the KrDemoServer bundle.
    {Info(1), "krserver-started"},
    {Warning(2), "krserver-session-slow"},
    {Error(3), "krserver-directory-unreachable"},
    {Info(4), "krserver-policy-refreshed"},
    // Component texts: formats filled with the caller's arguments.
    {Error(10), "worker %s line %s: %s"},
    {Info(11), "%s"},
};

const KrSubComponentInfo kSubComponents[] = {
    {"sessions", "Sessions", "Session store"},
    {"policy", "Policy", "Policy cache"},
};

class CKrDemoServerComponent : public CKrErrLogComponent {
public:
    CKrDemoServerComponent()
    {
        m_id = 0x05000000u;
        m_bundleName = "KrDemoServer";
        m_name = "Server";
        m_description = "Demo policy server";
    }

    void GetSubComponents(unsigned int& count, const KrSubComponentInfo*& list) override
    {
        count = sizeof kSubComponents / sizeof kSubComponents[0];
        list = kSubComponents;
    }

    const char* GetMessage(unsigned int msgId) override
    {
        for (const Message& message : kMessages)
            if (message.number == (msgId & 0xFFFFu)) return message.text;
        return nullptr;
    }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) CKrErrLogComponent* GetComponentPtr()
{
    static CKrDemoServerComponent component;
    return &component;
}
