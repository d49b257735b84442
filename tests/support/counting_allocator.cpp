// The replaced global allocation operators behind counting_allocator.h: plain
// malloc and free, with a count kept for the threads that asked for one.
#include "tests/support/counting_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

// GCC cannot see that these operators pair malloc with free by design.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
thread_local bool countedThread = false;
std::atomic<std::uint64_t> allocations{0};
}  // namespace

namespace testing_support {

void CountAllocationsOnThisThread() {
    countedThread = true;
}

std::uint64_t CountedAllocations() {
    return allocations.load();
}

void ResetCountedAllocations() {
    allocations = 0;
}

}  // namespace testing_support

void* operator new(std::size_t size) {
    if (countedThread) allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
