// Trace calls: off, not selected, into the in-memory trace and into an
// unbuffered trace file, beside bare write() calls of the same bytes.
#include "BenchAllocations.h"  // links the counting operator new
#include "TracingBench.h"

KRBENCH_REGISTER_TRACING();

int main(int argc, char** argv) { return krbench::RunAndCleanUp(argc, argv); }
