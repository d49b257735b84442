// Simulated threads, events and clock: test controls, and the one lock and
// blocking wait that every sim device (serial, message boxes) is built on, so
// that the virtual clock knows when every simulated thread is blocked.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/services.h"

namespace platform::sim {

enum class ClockMode {
    // Time stands still while any simulated thread runs and jumps to the next
    // deadline once every one of them is blocked: fast and deterministic.
    // A simulated thread counts as blocked only inside a sim wait (a port
    // wait or read, a message box, WaitForSingleObject, Sleep); blocked on
    // anything else, it holds the clock still.
    Virtual,
    // Waits and pauses take real time (benchmarks).
    RealTime,
};

void SetClockMode(ClockMode mode);
// Virtual mode only: while held, the clock moves only through AdvanceClock,
// so a test can catch a thread inside a pause.
void HoldClock(bool held);
void AdvanceClock(std::uint64_t microseconds);
std::uint64_t NowUs();

// Threads created through CreateThread that have not returned yet.
std::size_t AliveThreadCount();
// Of those, the ones blocked in a wait whose condition does not hold; with
// `untimedOnly`, only those in a wait without a deadline (a port wait, a
// message box): idle until something outside them happens.
std::size_t BlockedThreadCount(bool untimedOnly = false);
// The most threads ever alive at once, and how many were created, since the
// last ResetThreadStats.
std::size_t MaxConcurrentThreads();
std::size_t ThreadsCreated();
// Thread and event handles not closed yet (a leak shows here).
std::size_t OpenObjectHandleCount();
void ResetThreadStats();
// Calls of Sleep and of WaitForSingleObject with a timeout other than
// kInfinite: the pauses a thread asked for.
std::size_t PauseCount();
// The next CreateThread fails with `code` (no thread, no handle).
void FailNextCreateThread(std::uint32_t code);
// Virtual time at which the thread behind `thread` returned (0 while it runs).
std::uint64_t ThreadEndedAtUs(ThreadHandle thread);

namespace detail {

inline constexpr std::uint64_t kNever = ~std::uint64_t{0};

std::mutex& Mutex();
std::condition_variable& Changed();
// A fresh word for a thread, an event or a port, never 0.
std::uintptr_t NewHandle();
bool IsSimThread();
ThreadHandle CurrentThread();

struct Waiter {
    bool (*ready)(void* context);
    void* context;
    std::uint64_t deadlineUs;
    bool simThread;
    Waiter* next;
};
bool BlockUntilImpl(std::unique_lock<std::mutex>& lock, Waiter& waiter);

// With the lock held: blocks until ready() holds (true) or the clock reaches
// deadlineUs (false). Other threads signal changes with Changed().notify_all().
template <class Ready>
bool BlockUntil(std::unique_lock<std::mutex>& lock, std::uint64_t deadlineUs, Ready ready) {
    Waiter waiter{[](void* context) { return (*static_cast<Ready*>(context))(); }, &ready,
                  deadlineUs, false, nullptr};
    return BlockUntilImpl(lock, waiter);
}

}  // namespace detail
}  // namespace platform::sim
