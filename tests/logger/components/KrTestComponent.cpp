// A component library as a product team would build it: two constant tables
// and an exported GetComponentPtr, nothing of the logging library linked.
// Loaded as row 1 ("krtestcomponent"): component 2.
#include <krerrlog/logger/CKrErrLogTableComponent.h>

namespace {

const KrComponentMessage kMessages[] = {
    {1, "krtest-started"},
    {2, "krtest-slow-request"},
    {3, "krtest-open-failed"},
    {4, "krtest-not-in-bundle"},
    {5, "Cannot open file %s: %s"},
    {6, ""},
    {7, "Value %d of %s is 100%% and %y stays"},
    {8, "invalid severity %s"},
    {9, "krtest-many"},
};

const KrSubComponentInfo kSubComponents[] = {
    {"cfg", "Config", "Configuration reader"},
    {"net", "Network", "Connections to the servers"},
    {"store", "Storage", "Session store"},
};

}  // namespace

extern "C" CKrErrLogComponent* GetComponentPtr()
{
    static CKrErrLogTableComponent component(2, "KrTestComponent", "Test", "Test component", kMessages,
                                             sizeof kMessages / sizeof kMessages[0], kSubComponents,
                                             sizeof kSubComponents / sizeof kSubComponents[0]);
    return &component;
}
