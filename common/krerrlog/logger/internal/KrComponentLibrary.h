// The holder of a loaded component library, recorded in the component object
// the library returned, so that the library can be freed later.
//
// Several loggers may load the same library: the loader then gives the same
// handle and the library the same component object, so one holder per object
// counts the loads made through it. The count changes under a process-wide
// lock because loggers initialise and release independently.
#pragma once

#include <krerrlog/support/internal/KrLibraryLoader.h>

class CKrErrLogComponent;

namespace krerrlog {

struct ComponentLibrary {
    HMODULE handle;
    int loads;  // loads of this library whose component is still in a slot

    // Loads lib<baseName>.so and returns its component with the load recorded;
    // null, with the library freed again, when it has no entry point or the
    // entry point gives no component.
    static CKrErrLogComponent* Load(const char* baseName);
    // Drops one load recorded in component; frees the library too when
    // freeLibrary is set. The holder goes with the last recorded load; the
    // component must not be used after its library was freed.
    static void Detach(CKrErrLogComponent* component, bool freeLibrary);
};

}  // namespace krerrlog
