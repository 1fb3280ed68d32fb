// The demo's own component library, built as a product team would build one:
// two constant tables and an exported GetComponentPtr, nothing of the logging
// library linked. It is loaded as "krservercomponent", component number 5.
#include "KrDemoServerMessages.h"

namespace {

const KrComponentMessage kMessages[] = {
    {demo::kServerStarted, "krserver-started"},
    {demo::kSessionSlow, "krserver-session-slow"},
    {demo::kDirectoryUnreachable, "krserver-directory-unreachable"},
    {demo::kPolicyRefreshed, "krserver-policy-refreshed"},
    {demo::kWorkerProblem, "worker %s line %s: %s"},
    {demo::kPlainText, "%s"},
};

const KrSubComponentInfo kSubComponents[] = {
    {"sessions", "Sessions", "Session store"},
    {"policy", "Policy", "Policy cache"},
};

}  // namespace

extern "C" __attribute__((visibility("default"))) CKrErrLogComponent* GetComponentPtr()
{
    static CKrErrLogTableComponent component(demo::kServerComponent, "KrDemoServer", "Server", "Demo policy server",
                                             kMessages, sizeof kMessages / sizeof kMessages[0], kSubComponents,
                                             sizeof kSubComponents / sizeof kSubComponents[0]);
    return &component;
}
