// Error lines per second: LogErrMsg into a rolling file, against bare write().
#include "ErrorLineBench.h"

BENCHMARK(krbench::BM_LogErrMsg_RollingFile)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(krbench::BM_BareWrite)->Threads(1)->Threads(2)->UseRealTime();

int main(int argc, char** argv) { return krbench::RunAndCleanUp(argc, argv); }
