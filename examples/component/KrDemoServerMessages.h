// The messages of the demo's component library (component 5), shared by the
// library that describes them and the demo that logs them.
#pragma once

#include <krerrlog/logger/CKrErrLogTableComponent.h>

namespace demo {

constexpr unsigned int kServerComponent = 5;

// Translated lines: their texts are keys of the KrDemoServer bundle.
constexpr unsigned int kServerStarted = KrMessageId(kServerComponent, KR_SEVERITY_INFO, 1);
constexpr unsigned int kSessionSlow = KrMessageId(kServerComponent, KR_SEVERITY_WARNING, 2);
constexpr unsigned int kDirectoryUnreachable = KrMessageId(kServerComponent, KR_SEVERITY_ERROR, 3);
constexpr unsigned int kPolicyRefreshed = KrMessageId(kServerComponent, KR_SEVERITY_INFO, 4);
// Component lines: their texts are formats filled with the caller's arguments.
constexpr unsigned int kWorkerProblem = KrMessageId(kServerComponent, KR_SEVERITY_ERROR, 10);
constexpr unsigned int kPlainText = KrMessageId(kServerComponent, KR_SEVERITY_INFO, 11);

}  // namespace demo
