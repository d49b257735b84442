// Linux threads, events and timing, and CloseHandle for ports, events and
// threads (one table behind them all). A named event stands for the
// one-instance check: it holds a lock file, and a second holder learns
// kErrorAlreadyExists.
#include <unistd.h>

#include <sched.h>
#include <atomic>
#include <cerrno>
#include <memory>
#include <string>

#include "platform/linux/handle_table.h"
#include "platform/linux/sync_objects.h"
#include "platform/services.h"
#include "platform/text.h"

namespace platform {

namespace {

thread_local std::uint32_t lastError = 0;


using linux_backend::Event;
using linux_backend::Object;
using linux_backend::ObjectKind;

class EventObject final : public Object {
  public:
    static constexpr ObjectKind kKind = ObjectKind::Event;
    EventObject(bool manualReset, bool signalled) : Object(kKind), event(manualReset, signalled) {}
    ~EventObject() override {
        if (lockFd >= 0) ::close(lockFd);
    }
    Event event;
    int lockFd = -1;  // the instance lock of a named event
};

class ThreadObject final : public Object {
  public:
    static constexpr ObjectKind kKind = ObjectKind::Thread;
    ThreadObject() : Object(kKind), ended(std::make_shared<Event>(true, false)) {}
    const std::shared_ptr<Event> ended;
};

std::atomic<std::uint32_t> nextThreadId{1};

linux_backend::Handle Insert(std::shared_ptr<Object> object) {
    const linux_backend::Handle handle = linux_backend::InsertObject(std::move(object));
    if (handle == linux_backend::kNoHandle) SetLastError(kErrorTooManyOpenFiles);
    return handle;
}

// The event a wait on `object` waits for: an event's own, a thread's end.
std::shared_ptr<Event> WaitableOf(EventHandle object) {
    if (auto e = linux_backend::Find<EventObject>(linux_backend::RawOf(object)))
        return std::shared_ptr<Event>(e, &e->event);
    return nullptr;
}
std::shared_ptr<Event> WaitableOf(ThreadHandle object) {
    if (auto t = linux_backend::Find<ThreadObject>(linux_backend::RawOf(object))) return t->ended;
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

bool Close(linux_backend::Handle handle) {
    const std::shared_ptr<Object> object = linux_backend::RemoveObject(handle);
    if (!object) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    return object->Close();
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
    const linux_backend::Handle handle = Insert(thread);
    if (handle == linux_backend::kNoHandle) return kNoThread;
    if (const int e = linux_backend::StartThread(proc, parameter, thread->ended); e != 0) {
        linux_backend::RemoveObject(handle);
        SetLastError(e == ENOMEM ? kErrorNotEnoughMemory : static_cast<std::uint32_t>(e));
        return kNoThread;
    }
    if (threadId != nullptr) *threadId = nextThreadId.fetch_add(1);
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
    const linux_backend::Handle handle = Insert(event);
    if (handle == linux_backend::kNoHandle) return kNoEvent;
    SetLastError(existed ? kErrorAlreadyExists : kErrorSuccess);
    return EventHandle{handle};
}

bool SetEvent(EventHandle event) {
    auto object = linux_backend::Find<EventObject>(linux_backend::RawOf(event));
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

bool CloseHandle(PortHandle port) {
    return Close(linux_backend::RawOf(port));
}
bool CloseHandle(EventHandle event) {
    return Close(linux_backend::RawOf(event));
}
bool CloseHandle(ThreadHandle thread) {
    return Close(linux_backend::RawOf(thread));
}

}  // namespace platform
