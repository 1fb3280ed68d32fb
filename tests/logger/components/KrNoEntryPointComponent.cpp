// A library in a component slot that lacks the entry point: the logger must
// leave its slot empty.
#include <krerrlog/KrExport.h>

extern "C" KRERRLOG_API int KrNotTheEntryPoint() { return 1; }
