// A message component described by two constant tables: its messages and its
// sub-components. Most component libraries need nothing more, so they declare
// the tables and return one static CKrErrLogTableComponent from
// GetComponentPtr.
//
// Header-only like its base: a component library built against the installed
// headers links nothing of the logging library.
#pragma once

#include <krerrlog/logger/CKrErrLogComponent.h>
#include <krerrlog/message/KrMessageIds.h>

// One message of a component: its id (or only its number: just bits 0-13 are
// compared) and its bundle key or format text.
struct KrComponentMessage {
    unsigned int id;
    const char* text;
};

class KRERRLOG_API CKrErrLogTableComponent : public CKrErrLogComponent {
public:
    // The tables are not copied: they must outlive the component (static
    // constant arrays do).
    CKrErrLogTableComponent(unsigned int componentNumber, const char* bundleName, const char* name,
                            const char* description, const KrComponentMessage* messages, unsigned int messageCount,
                            const KrSubComponentInfo* subComponents = nullptr, unsigned int subComponentCount = 0)
        : m_messages(messages),
          m_messageCount(messages ? messageCount : 0),
          m_subComponents(subComponents),
          m_subComponentCount(subComponents ? subComponentCount : 0)
    {
        m_id = componentNumber << 24;
        m_bundleName = bundleName;
        m_name = name;
        m_description = description;
    }

    void GetSubComponents(unsigned int& count, const KrSubComponentInfo*& list) override
    {
        count = m_subComponentCount;
        list = m_subComponents;
    }

    // The severity bits of msgId do not take part: a message has one text.
    const char* GetMessage(unsigned int msgId) override
    {
        const unsigned int number = msgId & 0x3FFFu;
        for (unsigned int i = 0; i < m_messageCount; ++i)
            if ((m_messages[i].id & 0x3FFFu) == number) return m_messages[i].text;
        return nullptr;
    }

private:
    const KrComponentMessage* m_messages;
    unsigned int m_messageCount;
    const KrSubComponentInfo* m_subComponents;
    unsigned int m_subComponentCount;
};
