// A library whose entry point gives no component: the logger must leave its
// slot empty.
#include <krerrlog/logger/CKrErrLogComponent.h>

extern "C" CKrErrLogComponent* GetComponentPtr() { return nullptr; }
