// The library's clock, exported for hosts.
#pragma once

#include <krerrlog/KrExport.h>

#include <ctime>

// Fills time (cleared first; tm_yday and tm_isdst stay 0) and milliseconds
// from the current time, local when localTime is true, else UTC. Always true.
KRERRLOG_API bool KrErrLogGetCurrentTime(bool localTime, tm& time, long& milliseconds);
