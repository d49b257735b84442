// Simulated threads, events and timing: real std::threads, events with names,
// and a clock that is virtual for tests (deterministic, never waits for real)
// or real for benchmarks.
#include "platform/sim/threads.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>

#include "platform/services.h"

namespace platform {

namespace {
thread_local std::uint32_t lastError = 0;
}

std::uint32_t GetLastError() {
    return lastError;
}
void SetLastError(std::uint32_t code) {
    lastError = code;
}

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

struct Object {
    bool isThread = false;
    // event
    bool manualReset = false;
    bool signalled = false;
    std::u16string name;
    // thread
    std::thread thread;
    bool ended = false;
    std::uint64_t endedAtUs = 0;
    ~Object() {
        if (thread.joinable()) thread.detach();
    }
};

struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<std::uint64_t> virtualNowUs{0};
    std::atomic<int> mode{static_cast<int>(ClockMode::Virtual)};
    bool held = false;
    Clock::time_point realBase = Clock::now();
    detail::Waiter* waiters = nullptr;
    std::unordered_map<std::uintptr_t, std::shared_ptr<Object>> objects;
    std::size_t alive = 0;
    std::size_t maxAlive = 0;
    std::size_t created = 0;
    std::atomic<std::size_t> pauses{0};
    std::uint32_t failNextCreate = 0;  // error code; 0: no failure pending
};

State& S() {
    static State state;
    return state;
}

std::atomic<std::uintptr_t> nextHandle{0x100};
thread_local bool simThread = false;
thread_local ThreadHandle selfHandle = kNoThread;

bool RealTime() {
    return S().mode.load(std::memory_order_relaxed) == int(ClockMode::RealTime);
}

std::uint64_t RealNowUs() {
    return std::uint64_t(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - S().realBase).count());
}

// With the lock held: when every simulated thread is blocked, time moves on
// to the earliest deadline of any waiter and wakes it.
void MaybeAdvance() {
    State& s = S();
    if (RealTime() || s.held) return;
    std::size_t blocked = 0;
    std::uint64_t earliest = detail::kNever;
    for (detail::Waiter* w = s.waiters; w != nullptr; w = w->next) {
        if (w->ready(w->context)) {
            if (w->simThread) return;  // about to run
            continue;
        }
        if (w->simThread) ++blocked;
        earliest = std::min(earliest, w->deadlineUs);
    }
    if (blocked != s.alive || earliest == detail::kNever) return;
    if (earliest > s.virtualNowUs.load()) s.virtualNowUs.store(earliest);
    s.changed.notify_all();
}

// Threads and events share one table, as on the real system.
std::shared_ptr<Object> Find(std::uintptr_t handle) {
    auto it = S().objects.find(handle);
    return it == S().objects.end() ? nullptr : it->second;
}

}  // namespace

namespace detail {

std::mutex& Mutex() {
    return S().mutex;
}
std::condition_variable& Changed() {
    return S().changed;
}
std::uintptr_t NewHandle() {
    return nextHandle.fetch_add(4);
}
bool IsSimThread() {
    return simThread;
}
ThreadHandle CurrentThread() {
    return selfHandle;
}

bool BlockUntilImpl(std::unique_lock<std::mutex>& lock, Waiter& waiter) {
    State& s = S();
    if (waiter.ready(waiter.context)) return true;
    auto reached = [&] {
        if (waiter.deadlineUs == kNever) return false;
        return (RealTime() ? RealNowUs() : s.virtualNowUs.load()) >= waiter.deadlineUs;
    };
    if (reached()) return false;
    waiter.simThread = simThread;
    waiter.next = s.waiters;
    s.waiters = &waiter;
    MaybeAdvance();
    bool result = false;
    for (;;) {
        if (waiter.ready(waiter.context)) {
            result = true;
            break;
        }
        if (reached()) break;
        if (RealTime() && waiter.deadlineUs != kNever) {
            // Sleep to just short of the deadline, then spin to it: a plain
            // timed wait overshoots by tens of microseconds on every pause,
            // and a yield can hand the CPU away for a whole time slice.
            std::uint64_t now = RealNowUs();
            if (waiter.deadlineUs > now + 200) {
                s.changed.wait_until(
                    lock, s.realBase + std::chrono::microseconds(waiter.deadlineUs - 150));
            } else {
                lock.unlock();
                while (RealNowUs() < waiter.deadlineUs) {
                }
                lock.lock();
            }
        } else {
            s.changed.wait(lock);
        }
    }
    for (Waiter** p = &s.waiters; *p != nullptr; p = &(*p)->next) {
        if (*p == &waiter) {
            *p = waiter.next;
            break;
        }
    }
    // A thread outside the simulation leaving a wait whose deadline has come
    // (the dialog thread's pause) may have been the earliest deadline holding
    // the clock back; the sim threads still blocked need it to move on.
    MaybeAdvance();
    return result;
}

}  // namespace detail

void SetClockMode(ClockMode mode) {
    std::lock_guard lock(S().mutex);
    S().mode.store(int(mode));
    S().held = false;
    S().changed.notify_all();
}

void HoldClock(bool held) {
    std::lock_guard lock(S().mutex);
    S().held = held;
    MaybeAdvance();
}

void AdvanceClock(std::uint64_t microseconds) {
    std::lock_guard lock(S().mutex);
    S().virtualNowUs.fetch_add(microseconds);
    S().changed.notify_all();
    MaybeAdvance();
}

std::uint64_t NowUs() {
    return RealTime() ? RealNowUs() : S().virtualNowUs.load();
}

std::size_t AliveThreadCount() {
    std::lock_guard lock(S().mutex);
    return S().alive;
}

std::size_t BlockedThreadCount(bool untimedOnly) {
    std::lock_guard lock(S().mutex);
    std::size_t blocked = 0;
    for (detail::Waiter* w = S().waiters; w != nullptr; w = w->next)
        if (w->simThread && !w->ready(w->context) &&
            (!untimedOnly || w->deadlineUs == detail::kNever))
            ++blocked;
    return blocked;
}

std::size_t MaxConcurrentThreads() {
    std::lock_guard lock(S().mutex);
    return S().maxAlive;
}

std::size_t ThreadsCreated() {
    std::lock_guard lock(S().mutex);
    return S().created;
}

std::size_t OpenObjectHandleCount() {
    std::lock_guard lock(S().mutex);
    return S().objects.size();
}

void ResetThreadStats() {
    std::lock_guard lock(S().mutex);
    S().maxAlive = S().alive;
    S().created = 0;
}

std::size_t PauseCount() {
    return S().pauses.load();
}

void FailNextCreateThread(std::uint32_t code) {
    std::lock_guard lock(S().mutex);
    S().failNextCreate = code;
}

std::uint64_t ThreadEndedAtUs(ThreadHandle thread) {
    std::lock_guard lock(S().mutex);
    auto object = Find(static_cast<std::uintptr_t>(thread));
    return object && object->ended ? object->endedAtUs : 0;
}

}  // namespace sim

using sim::S;

ThreadHandle CreateThread(ThreadProc proc, void* parameter, std::uint32_t* threadId) {
    std::lock_guard lock(S().mutex);
    if (S().failNextCreate != 0) {
        SetLastError(S().failNextCreate);
        S().failNextCreate = 0;
        return kNoThread;
    }
    auto object = std::make_shared<sim::Object>();
    object->isThread = true;
    const ThreadHandle handle{sim::detail::NewHandle()};
    S().objects[static_cast<std::uintptr_t>(handle)] = object;
    // Counted as running before it starts, so the clock cannot run ahead of it.
    ++S().alive;
    ++S().created;
    S().maxAlive = std::max(S().maxAlive, S().alive);
    object->thread = std::thread([object, proc, parameter, handle] {
        sim::simThread = true;
        sim::selfHandle = handle;
        std::uint32_t code = proc(parameter);
        (void)code;
        std::lock_guard end(S().mutex);
        object->ended = true;
        object->endedAtUs = sim::NowUs();
        --S().alive;
        S().changed.notify_all();
        sim::MaybeAdvance();
    });
    if (threadId != nullptr) *threadId = static_cast<std::uint32_t>(handle);
    return handle;
}

EventHandle CreateEventW(bool manualReset, bool initialState, const char16_t* name) {
    std::lock_guard lock(S().mutex);
    if (name != nullptr) {
        for (auto& [handle, object] : S().objects) {
            if (!object->isThread && object->name == name) {
                std::uintptr_t again = sim::detail::NewHandle();
                S().objects[again] = object;
                SetLastError(kErrorAlreadyExists);
                return EventHandle{again};
            }
        }
    }
    auto object = std::make_shared<sim::Object>();
    object->manualReset = manualReset;
    object->signalled = initialState;
    if (name != nullptr) object->name = name;
    std::uintptr_t handle = sim::detail::NewHandle();
    S().objects[handle] = object;
    SetLastError(kErrorSuccess);
    return EventHandle{handle};
}

bool SetEvent(EventHandle event) {
    std::lock_guard lock(S().mutex);
    auto object = sim::Find(static_cast<std::uintptr_t>(event));
    if (!object || object->isThread) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    object->signalled = true;
    S().changed.notify_all();
    return true;
}

namespace {

std::uint32_t WaitForObject(std::uintptr_t handle, std::uint32_t milliseconds) {
    if (milliseconds != kInfinite) S().pauses.fetch_add(1);
    std::unique_lock lock(S().mutex);
    auto object = sim::Find(handle);
    if (!object) {
        SetLastError(kErrorInvalidHandle);
        return kWaitFailed;
    }
    std::uint64_t deadline = milliseconds == kInfinite
                                 ? sim::detail::kNever
                                 : sim::NowUs() + std::uint64_t{milliseconds} * 1000;
    bool done = sim::detail::BlockUntil(
        lock, deadline, [&] { return object->isThread ? object->ended : object->signalled; });
    if (!done) return kWaitTimeout;
    if (!object->isThread && !object->manualReset) object->signalled = false;
    return kWaitObject0;
}

bool CloseObject(std::uintptr_t handle) {
    std::unique_lock lock(S().mutex);
    auto it = S().objects.find(handle);
    if (it == S().objects.end()) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    std::shared_ptr<sim::Object> object = it->second;
    S().objects.erase(it);
    if (object->isThread && object->ended && object->thread.joinable()) {
        std::thread finished = std::move(object->thread);
        lock.unlock();
        finished.join();
    }
    return true;
}

}  // namespace

std::uint32_t WaitForSingleObject(EventHandle event, std::uint32_t milliseconds) {
    return WaitForObject(static_cast<std::uintptr_t>(event), milliseconds);
}

std::uint32_t WaitForSingleObject(ThreadHandle thread, std::uint32_t milliseconds) {
    return WaitForObject(static_cast<std::uintptr_t>(thread), milliseconds);
}

void Sleep(std::uint32_t milliseconds) {
    S().pauses.fetch_add(1);
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::unique_lock lock(S().mutex);
    sim::detail::BlockUntil(lock, sim::NowUs() + std::uint64_t{milliseconds} * 1000,
                            [] { return false; });
}

bool CloseHandle(EventHandle event) {
    return CloseObject(static_cast<std::uintptr_t>(event));
}

bool CloseHandle(ThreadHandle thread) {
    return CloseObject(static_cast<std::uintptr_t>(thread));
}

}  // namespace platform
