// The library's own "Log" component, served from component slot 0.
#pragma once

#include <krerrlog/logger/CKrErrLogComponent.h>

class KRERRLOG_API CKrLogComponent : public CKrErrLogComponent {
public:
    CKrLogComponent();
    ~CKrLogComponent() override;

    // One sub-component, "Legacy".
    void GetSubComponents(unsigned int& count, const KrSubComponentInfo*& list) override;
    // "%1s" for messages 1 to 3 (low 14 bits of msgId), null otherwise.
    const char* GetMessage(unsigned int msgId) override;
};
