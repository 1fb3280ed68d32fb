// A component library as a product team would build it: it derives from the
// installed CKrErrLogComponent and exports GetComponentPtr, and links nothing
// of the logging library. Loaded as row 1 ("krtestcomponent"): component 2.
#include <krerrlog/logger/CKrErrLogComponent.h>

namespace {

// Message numbers with their severity bits (bits 14-15) as one 16-bit key.
constexpr unsigned int Info(unsigned int n) { return (1u << 14) | n; }
constexpr unsigned int Warning(unsigned int n) { return (2u << 14) | n; }
constexpr unsigned int Error(unsigned int n) { return (3u << 14) | n; }

struct Message {
    unsigned int number;  // severity bits and message number
    const char* text;     // a key of the bundle, or a format text
};

const Message kMessages[] = {
    {Info(1), "krtest-started"},
    {Warning(2), "krtest-slow-request"},
    {Error(3), "krtest-open-failed"},
    {Error(4), "krtest-not-in-bundle"},
    {Error(5), "Cannot open file %s: %s"},
    {Info(6), ""},
    {Warning(7), "Value %d of %s is 100%% and %y stays"},
    {0u | 8, "invalid severity %s"},
    {Info(9), "krtest-many"},
};

const KrSubComponentInfo kSubComponents[] = {
    {"cfg", "Config", "Configuration reader"},
    {"net", "Network", "Connections to the servers"},
    {"store", "Storage", "Session store"},
};

class CKrTestComponent : public CKrErrLogComponent {
public:
    CKrTestComponent()
    {
        m_id = 0x02000000u;
        m_bundleName = "KrTestComponent";
        m_name = "Test";
        m_description = "Test component";
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

extern "C" CKrErrLogComponent* GetComponentPtr()
{
    static CKrTestComponent component;
    return &component;
}
