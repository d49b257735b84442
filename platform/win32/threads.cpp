// Windows threads, events and timing, and the one CloseHandle of the seam,
// which sends serial ports through their wake-then-close path.
// The seam comes before <windows.h>: its constants share names with Windows macros.
#include "platform/services.h"
#include "platform/win32/serial_handles.h"

#include <windows.h>
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

}  // namespace

std::uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(std::uint32_t code) { ::SetLastError(code); }

Handle CreateThread(ThreadProc proc, void* parameter, std::uint32_t* threadId) {
    RaiseTimerResolution();
    auto* start = new (std::nothrow) ThreadStart{proc, parameter};
    if (!start) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return kNoHandle;
    }
    DWORD id = 0;
    const HANDLE thread = ::CreateThread(nullptr, 0, ThreadEntry, start, 0, &id);
    if (!thread) {
        delete start;
        return kNoHandle;
    }
    if (threadId) *threadId = id;
    return reinterpret_cast<Handle>(thread);
}

Handle CreateEventW(bool manualReset, bool initialState, const char16_t* name) {
    const HANDLE event = ::CreateEventW(nullptr, manualReset, initialState,
                                        reinterpret_cast<const wchar_t*>(name));
    return reinterpret_cast<Handle>(event);
}

bool SetEvent(Handle event) {
    return ::SetEvent(reinterpret_cast<HANDLE>(event)) != FALSE;
}

std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds) {
    if (win32::IsSerialHandle(object)) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(object), milliseconds);
}

void Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

bool CloseHandle(Handle handle) {
    if (win32::IsSerialHandle(handle)) return win32::CloseSerialPortHandle(handle);
    if (handle == kNoHandle || handle == kInvalidHandle) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) != FALSE;
}

}  // namespace platform
