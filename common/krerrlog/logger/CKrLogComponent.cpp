#include <krerrlog/logger/CKrLogComponent.h>

namespace {
const KrSubComponentInfo kLegacySubComponent = {"Legacy", "Legacy", "Legacy Description."};
}

CKrLogComponent::CKrLogComponent() = default;
CKrLogComponent::~CKrLogComponent() = default;

void CKrLogComponent::GetSubComponents(unsigned int& count, const KrSubComponentInfo*& list)
{
    count = 1;
    list = &kLegacySubComponent;
}

const char* CKrLogComponent::GetMessage(unsigned int msgId)
{
    const unsigned int number = msgId & 0x3FFFu;
    return (number == 0 || number > 3) ? nullptr : "%1s";
}

CKrErrLogComponent* GetComponentPtr()
{
    // Thread-safe first-use construction; destroyed at process exit.
    static CKrLogComponent builtIn;
    return &builtIn;
}
