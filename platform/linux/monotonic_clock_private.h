// The clock every timed part of the Linux backend reads (paced pauses, waits,
// a new uinput device's settling, the spare keys' bindings), and sleeps to
// its absolute deadlines, which keep their rate whatever the wake-up latency.
#pragma once

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace platform::linux_backend {

inline constexpr std::int64_t kNsPerSecond = 1'000'000'000;

// Nanoseconds on CLOCK_MONOTONIC (the clock of std::chrono::steady_clock).
inline std::int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

// clock_nanosleep(TIMER_ABSTIME) on the monotonic clock; a signal does not
// cut the sleep short.
inline void SleepUntil(std::int64_t deadlineNs) {
    const timespec until{static_cast<time_t>(deadlineNs / kNsPerSecond),
                         static_cast<long>(deadlineNs % kNsPerSecond)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

}  // namespace platform::linux_backend
