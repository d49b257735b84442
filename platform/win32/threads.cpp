// Windows threads, events and timing.
#include "platform/services.h"

#include <windows.h>
// timeapi.h builds on windows.h.
#include <timeapi.h>

#include <atomic>
#include <new>

namespace platform {

namespace {

struct ThreadStart {
    ThreadProc proc;
    void* parameter;
};

DWORD WINAPI ThreadEntry(LPVOID start) {
    const ThreadStart copy = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    return copy.proc(copy.parameter);
}

// The stroke delay is a Sleep of a few milliseconds after every key event;
// desktop Windows sleeps in 15.6 ms steps unless the timer resolution is
// raised, and Windows 11 ignores a raised resolution for a process without a
// visible window (ours lives in the tray) unless it opts out of that.
void RaiseTimerResolution() {
    static std::atomic<bool> raised{false};
    if (raised.exchange(true)) return;
    PROCESS_POWER_THROTTLING_STATE state{};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    state.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
    state.StateMask = 0;
    ::SetProcessInformation(::GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
    ::timeBeginPeriod(1);
}

double NowMs() {
    static const double msPerTick = [] {
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        return 1000.0 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * msPerTick;
}

// Pauses of a few milliseconds are the stroke delay after each key event, and
// a pause that ends late slows every keystroke: the kernel's waits end up to a
// timer tick late (about 0.13 ms under Wine, up to a millisecond on Windows
// even at the raised resolution). So the last millisecond of a short pause is
// waited out on the clock instead; a pause never ends early. `object` may be
// null (a plain sleep).
constexpr std::uint32_t kPreciseUpToMs = 50;

DWORD PreciseWait(HANDLE object, std::uint32_t milliseconds) {
    const double deadline = NowMs() + milliseconds;
    // The object is looked at before the clock takes over (the kernel's wait
    // does that for all but the last millisecond); within that millisecond it
    // is not asked again, since every look is a round trip to the kernel.
    const DWORD coarse = milliseconds - 1;
    const DWORD result = object ? ::WaitForSingleObject(object, coarse)
                                : (coarse ? ::Sleep(coarse) : void(), WAIT_TIMEOUT);
    if (result != WAIT_TIMEOUT) return result;
    while (NowMs() < deadline) YieldProcessor();
    return WAIT_TIMEOUT;
}

HANDLE ToWindows(std::uintptr_t word) {
    return reinterpret_cast<HANDLE>(word);
}

std::uint32_t WaitForObject(HANDLE object, std::uint32_t milliseconds) {
    if (milliseconds > 0 && milliseconds <= kPreciseUpToMs) {
        return PreciseWait(object, milliseconds);
    }
    return ::WaitForSingleObject(object, milliseconds);
}

bool CloseObject(HANDLE object) {
    if (object == nullptr || object == INVALID_HANDLE_VALUE) {
        ::SetLastError(kErrorInvalidHandle);
        return false;
    }
    return ::CloseHandle(object) != FALSE;
}

}  // namespace

std::uint32_t GetLastError() {
    return ::GetLastError();
}
void SetLastError(std::uint32_t code) {
    ::SetLastError(code);
}

ThreadHandle CreateThread(ThreadProc proc, void* parameter, std::uint32_t* threadId) {
    RaiseTimerResolution();
    auto* start = new (std::nothrow) ThreadStart{proc, parameter};
    if (!start) {
        ::SetLastError(kErrorNotEnoughMemory);
        return kNoThread;
    }
    DWORD id = 0;
    const HANDLE thread = ::CreateThread(nullptr, 0, ThreadEntry, start, 0, &id);
    if (!thread) {
        delete start;
        return kNoThread;
    }
    if (threadId) *threadId = id;
    return ThreadHandle{reinterpret_cast<std::uintptr_t>(thread)};
}

EventHandle CreateEventW(bool manualReset, bool initialState, const char16_t* name) {
    const HANDLE event =
        ::CreateEventW(nullptr, manualReset, initialState, reinterpret_cast<const wchar_t*>(name));
    return EventHandle{reinterpret_cast<std::uintptr_t>(event)};
}

bool SetEvent(EventHandle event) {
    return ::SetEvent(ToWindows(static_cast<std::uintptr_t>(event))) != FALSE;
}

std::uint32_t WaitForSingleObject(EventHandle event, std::uint32_t milliseconds) {
    return WaitForObject(ToWindows(static_cast<std::uintptr_t>(event)), milliseconds);
}

std::uint32_t WaitForSingleObject(ThreadHandle thread, std::uint32_t milliseconds) {
    return WaitForObject(ToWindows(static_cast<std::uintptr_t>(thread)), milliseconds);
}

void Sleep(std::uint32_t milliseconds) {
    if (milliseconds > 0 && milliseconds <= kPreciseUpToMs) {
        PreciseWait(nullptr, milliseconds);
        return;
    }
    ::Sleep(milliseconds);
}

bool CloseHandle(EventHandle event) {
    return CloseObject(ToWindows(static_cast<std::uintptr_t>(event)));
}

bool CloseHandle(ThreadHandle thread) {
    return CloseObject(ToWindows(static_cast<std::uintptr_t>(thread)));
}

}  // namespace platform
