// Events on a mutex and a condition variable waiting to absolute monotonic
// deadlines; detached pthreads; pauses on clock_nanosleep; flock locks.
#include "platform/linux/threads/sync_objects_private.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <new>
#include <utility>

#include "platform/posix/private_files.h"

namespace platform::linux_backend {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kNsPerMs = 1000000;
// How soon after the previous pause's deadline a pause may start and still
// count from that deadline; it bounds how much shorter than asked a pause
// can come out.
constexpr std::int64_t kPaceWindowNs = kNsPerMs;

thread_local std::int64_t lastPauseDeadline = kNoDeadline;

struct ThreadStart {
    std::uint32_t (*proc)(void*);
    void* parameter;
    std::shared_ptr<Event> ended;
};

void* ThreadEntry(void* p) {
    ThreadStart* start = static_cast<ThreadStart*>(p);
    start->proc(start->parameter);
    std::shared_ptr<Event> ended = std::move(start->ended);
    delete start;
    ended->Set();
    return nullptr;
}

// The lock name as a file name: no separators, nothing unprintable.
std::string LockFileName(const std::string& name) {
    std::string file;
    for (const char c : name) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        file += plain ? c : '_';
    }
    if (file.empty() || file[0] == '.') file.insert(0, "_");
    return file + ".lock";
}

}  // namespace

void Event::Set() {
    std::lock_guard lock(mutex_);
    signalled_ = true;
    if (manualReset_) {
        changed_.notify_all();
    } else {
        changed_.notify_one();
    }
}

void Event::Reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool Event::WaitUntil(std::int64_t deadlineNs) {
    std::unique_lock lock(mutex_);
    if (deadlineNs == kNoDeadline) {
        changed_.wait(lock, [&] { return signalled_; });
    } else {
        const Clock::time_point deadline{std::chrono::nanoseconds(deadlineNs)};
        if (!changed_.wait_until(lock, deadline, [&] { return signalled_; })) return false;
    }
    if (!manualReset_) signalled_ = false;
    return true;
}

int StartThread(std::uint32_t (*proc)(void*), void* parameter, std::shared_ptr<Event> ended) {
    auto* start = new (std::nothrow) ThreadStart{proc, parameter, std::move(ended)};
    if (start == nullptr) return ENOMEM;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int error = pthread_create(&thread, &attributes, ThreadEntry, start);
    pthread_attr_destroy(&attributes);
    if (error != 0) delete start;
    return error;
}

std::int64_t PauseDeadline(std::uint32_t ms) {
    const std::int64_t now = MonotonicNs();
    const std::int64_t length = static_cast<std::int64_t>(ms) * kNsPerMs;
    if (lastPauseDeadline != kNoDeadline && now - lastPauseDeadline < kPaceWindowNs)
        return lastPauseDeadline + length;
    return now + length;
}

void PauseEnded(std::int64_t deadlineNs, bool reachedDeadline) {
    lastPauseDeadline = reachedDeadline ? deadlineNs : kNoDeadline;
}

std::string InstanceLockDirectory() {
    return posix::PrivateRuntimeFolder();
}

int AcquireInstanceLock(const std::string& name, int* fd) {
    *fd = -1;
    const std::string dir = InstanceLockDirectory();
    if (dir.empty()) return EPERM;
    const int lock = posix::OpenPrivateFile(dir + "/" + LockFileName(name), 0);
    if (lock < 0) return -lock;
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(lock);
        return error;
    }
    *fd = lock;
    return 0;
}

}  // namespace platform::linux_backend
