// Counts heap allocations made by the calling thread, for tests and benchmarks
// that prove a path allocates nothing. Linking this replaces the global
// operator new and delete of the program.
#pragma once

namespace krtest {
long AllocationsOnThisThread();
}
