// Counts the heap allocations made on chosen threads, for the tests and the
// benchmark that hold the path from a received byte to its key events to no
// allocation at all. Linking quorvel_counting_allocator replaces the global
// operator new and delete of the whole binary.
#pragma once

#include <cstdint>

namespace testing_support {

// From now on, every allocation made on the calling thread is counted (a
// thread entry of the test's own calls this first).
void CountAllocationsOnThisThread();
// The allocations counted since the last reset.
std::uint64_t CountedAllocations();
void ResetCountedAllocations();

}  // namespace testing_support
