// Events, threads that can be waited for, paced pauses and the one-instance
// lock of the Linux backend, on pthreads and the monotonic clock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/linux/monotonic_clock_private.h"

namespace platform::linux_backend {

inline constexpr std::int64_t kNoDeadline = -1;

class Event {
  public:
    Event(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}
    void Set();
    void Reset();
    // True when the event was (or became) signalled before the deadline; an
    // auto-reset event is then reset by this wait.
    bool WaitUntil(std::int64_t deadlineNs);

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    const bool manualReset_;
    bool signalled_;
};

// Runs proc(parameter) on a new detached thread and sets `ended` (a manual
// reset event) when it returns. 0 or the errno of the failed start.
int StartThread(std::uint32_t (*proc)(void*), void* parameter, std::shared_ptr<Event> ended);

// Paced pauses. A pause of `ms` ends at an absolute deadline; when it starts
// soon after the calling thread's previous pause ended (within a
// millisecond), it counts from that pause's deadline instead of from now, so
// a run of short pauses keeps its rate whatever the work and the wake-up
// latency between them (a 1 ms stroke delay paces at 1 ms, not 1.1).
std::int64_t PauseDeadline(std::uint32_t ms);
// Tells the pacer how the pause ended: at its deadline, or cut short.
void PauseEnded(std::int64_t deadlineNs, bool reachedDeadline);

// The lock that makes one instance per user: flock(LOCK_EX|LOCK_NB) on
// <dir>/<name>.lock, freed by the kernel when the holder dies. `dir` is the
// private runtime folder (posix/private_files); empty when there is none.
// Returns 0 with *fd holding the lock, EWOULDBLOCK when another open (in this
// or another process) holds it, or another errno.
int AcquireInstanceLock(const std::string& name, int* fd);
std::string InstanceLockDirectory();

}  // namespace platform::linux_backend
