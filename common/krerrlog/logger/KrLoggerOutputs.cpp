// Making outputs, attaching them to the error and audit logs, and logging.
#include <krerrlog/logger/CKrLogger.h>

void CKrLogger::ShutDownOutputsLocked()
{
    // No output can be attached before the output classes exist.
}
