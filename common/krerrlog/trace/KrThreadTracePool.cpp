#include <krerrlog/trace/KrThreadTracePool.h>

ThreadTraceData* GetThreadTraceData() { return nullptr; }
