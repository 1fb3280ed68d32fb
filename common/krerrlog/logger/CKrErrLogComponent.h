// A message component: names itself, lists its sub-components and gives the
// message key (or format text) of each of its message numbers. Component
// libraries derive from CKrErrLogComponent and export GetComponentPtr.
//
// Everything here is inline, so a component library built against the
// installed headers links nothing of this library: its vtable and type
// information are emitted in the component library itself.
#pragma once

#include <krerrlog/KrExport.h>

#include <cstddef>

namespace krerrlog {
struct ComponentLibrary;  // holder of the handle of a loaded component library
}

// One sub-component as a component library lists it. The layout is fixed
// (64 bytes) because component libraries fill it.
struct KrSubComponentInfo {
    char key[24];             // at most 23 characters; not read by the logger
    char name[32];            // at most 31 characters
    const char* description;  // NUL-terminated
};
static_assert(offsetof(KrSubComponentInfo, key) == 0, "fixed layout");
static_assert(offsetof(KrSubComponentInfo, name) == 24, "fixed layout");
static_assert(offsetof(KrSubComponentInfo, description) == 56, "fixed layout");
static_assert(sizeof(KrSubComponentInfo) == 64, "fixed layout: 64 bytes");

class KRERRLOG_API CKrErrLogComponent {
public:
    CKrErrLogComponent()
        : m_pLibrary(nullptr), m_id(0x01000000u), m_bundleName("Log"), m_name("Log"), m_description("Log description")
    {
    }
    virtual ~CKrErrLogComponent() {}

    // The number of sub-components and an array of that many records.
    virtual void GetSubComponents(unsigned int& count, const KrSubComponentInfo*& list) = 0;
    // The message key (or format text) of msgId, or null when there is none.
    virtual const char* GetMessage(unsigned int msgId) = 0;

    // Set by the logger when it loaded the component from a library; null for
    // the built-in component.
    krerrlog::ComponentLibrary* m_pLibrary;
    // Trace id: the component number in bits 24-31, bits 0-23 zero.
    unsigned int m_id;
    const char* m_bundleName;
    const char* m_name;
    const char* m_description;
};

// The entry point every component library exports. This library exports its
// own, returning its built-in "Log" component.
extern "C" KRERRLOG_API CKrErrLogComponent* GetComponentPtr();
typedef CKrErrLogComponent* (*KrGetComponentPtrFunction)();
