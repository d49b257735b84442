// Linux threads, events and timing, each kind in a handle table of its own
// with its own CloseHandle. A named event stands for the one-instance check:
// it holds a lock file, and a second holder learns kErrorAlreadyExists.
#include <unistd.h>

#include <sched.h>
#include <atomic>
#include <cerrno>
#include <memory>
#include <string>

#include "platform/linux/handle_table_private.h"
#include "platform/linux/threads/sync_objects_private.h"
#include "platform/posix/posix_errors.h"
#include "platform/services.h"
#include "platform/text.h"

namespace platform {

namespace {

using linux_backend::Event;
using linux_backend::Handle;
using linux_backend::kNoHandle;
using linux_backend::RawOf;

struct EventObject {
    EventObject(bool manualReset, bool signalled) : event(manualReset, signalled) {}
    ~EventObject() {
        if (lockFd >= 0) ::close(lockFd);
    }
    EventObject(const EventObject&) = delete;
    EventObject& operator=(const EventObject&) = delete;

    Event event;
    int lockFd = -1;  // the instance lock of a named event
};

struct ThreadObject {
    const std::shared_ptr<Event> ended = std::make_shared<Event>(true, false);
};

// What this part keeps: the open events and threads, and the ids handed out.
struct ThreadsState {
    linux_backend::HandleTable<EventObject, 0x5145> events;
    linux_backend::HandleTable<ThreadObject, 0x5154> threads;
    std::atomic<std::uint32_t> nextThreadId{1};
};
ThreadsState state;

thread_local std::uint32_t lastError = 0;

template <class Table, class Object>
Handle Insert(Table& table, std::shared_ptr<Object> object) {
    const Handle handle = table.Insert(std::move(object));
    if (handle == kNoHandle) SetLastError(kErrorTooManyOpenFiles);
    return handle;
}

// Only the first close of a handle finds its object; the object goes when the
// last call still running on it lets go.
template <class Table>
bool Close(Table& table, Handle handle) {
    if (!table.Remove(handle)) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    return true;
}

// The event a wait on `object` waits for: an event's own, a thread's end.
std::shared_ptr<Event> WaitableOf(EventHandle object) {
    if (auto e = state.events.Find(RawOf(object))) return std::shared_ptr<Event>(e, &e->event);
    return nullptr;
}
std::shared_ptr<Event> WaitableOf(ThreadHandle object) {
    if (auto t = state.threads.Find(RawOf(object))) return t->ended;
    return nullptr;
}

// Waits for `waitable` as WaitForSingleObject does.
std::uint32_t WaitFor(const std::shared_ptr<Event>& waitable, std::uint32_t milliseconds) {
    if (!waitable) {
        SetLastError(kErrorInvalidHandle);
        return kWaitFailed;
    }
    if (milliseconds == kInfinite) {
        waitable->WaitUntil(linux_backend::kNoDeadline);
        return kWaitObject0;
    }
    if (milliseconds == 0) {
        return waitable->WaitUntil(linux_backend::MonotonicNs()) ? kWaitObject0 : kWaitTimeout;
    }
    // A timed wait is the stroke delay's pause (on the quit event), so it is
    // paced like Sleep.
    const std::int64_t deadline = linux_backend::PauseDeadline(milliseconds);
    const bool signalled = waitable->WaitUntil(deadline);
    linux_backend::PauseEnded(deadline, !signalled);
    return signalled ? kWaitObject0 : kWaitTimeout;
}

}  // namespace

std::uint32_t GetLastError() {
    return lastError;
}
void SetLastError(std::uint32_t code) {
    lastError = code;
}

ThreadHandle CreateThread(ThreadProc proc, void* parameter, std::uint32_t* threadId) {
    auto thread = std::make_shared<ThreadObject>();
    const Handle handle = Insert(state.threads, thread);
    if (handle == kNoHandle) return kNoThread;
    if (const int e = linux_backend::StartThread(proc, parameter, thread->ended); e != 0) {
        state.threads.Remove(handle);
        // A thread the system has no room for (EAGAIN) is short of memory, as
        // Windows reports it.
        SetLastError(e == EAGAIN ? kErrorNotEnoughMemory : posix::ErrorFromErrno(e));
        return kNoThread;
    }
    if (threadId != nullptr) *threadId = state.nextThreadId.fetch_add(1);
    return ThreadHandle{handle};
}

EventHandle CreateEventW(bool manualReset, bool initialState, const char16_t* name) {
    auto event = std::make_shared<EventObject>(manualReset, initialState);
    bool existed = false;
    if (name != nullptr && name[0] != 0) {
        unsigned char utf8[256];
        const std::ptrdiff_t n = EncodeUtf8(name, utf8, sizeof utf8);
        const std::string lockName =
            n > 0 ? std::string(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(n))
                  : std::string("event");
        // Names only tell whether another holder exists (no signalling across
        // processes). When no lock can be made at all, the program still runs,
        // unguarded, rather than refusing to start.
        existed = linux_backend::AcquireInstanceLock(lockName, &event->lockFd) == EWOULDBLOCK;
    }
    const Handle handle = Insert(state.events, event);
    if (handle == kNoHandle) return kNoEvent;
    SetLastError(existed ? kErrorAlreadyExists : kErrorSuccess);
    return EventHandle{handle};
}

bool SetEvent(EventHandle event) {
    auto object = state.events.Find(RawOf(event));
    if (!object) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    object->event.Set();
    return true;
}

std::uint32_t WaitForSingleObject(EventHandle event, std::uint32_t milliseconds) {
    return WaitFor(WaitableOf(event), milliseconds);
}

std::uint32_t WaitForSingleObject(ThreadHandle thread, std::uint32_t milliseconds) {
    return WaitFor(WaitableOf(thread), milliseconds);
}

void Sleep(std::uint32_t milliseconds) {
    if (milliseconds == 0) {
        ::sched_yield();
        return;
    }
    const std::int64_t deadline = linux_backend::PauseDeadline(milliseconds);
    linux_backend::SleepUntil(deadline);
    linux_backend::PauseEnded(deadline, true);
}

bool CloseHandle(EventHandle event) {
    return Close(state.events, RawOf(event));
}
bool CloseHandle(ThreadHandle thread) {
    return Close(state.threads, RawOf(thread));
}

}  // namespace platform
