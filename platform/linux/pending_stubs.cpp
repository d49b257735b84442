// PENDING, to be deleted: stand-ins for the Linux serial, keyboard and thread
// services, so that the program links and its window and tray can be tried
// before the real ones land. No port ever opens (the device is "missing"), no
// key is typed, and a "thread" has ended before it starts.
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/services.h"

namespace platform {

namespace {
// Distinct non-null handles for the stand-in events and threads.
std::atomic<Handle> nextHandle{0x5E000000u};
}  // namespace

Handle CreateFileW(const char16_t*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
    SetLastError(ERROR_DEV_NOT_EXIST);
    return kInvalidHandle;
}
bool SetCommMask(Handle, std::uint32_t) {
    return false;
}
bool SetCommTimeouts(Handle, const CommTimeouts&) {
    return false;
}
bool GetCommState(Handle, Dcb&) {
    return false;
}
bool SetCommState(Handle, const Dcb&) {
    return false;
}
bool WaitCommEvent(Handle, std::uint32_t*) {
    return false;
}
bool ReadFile(Handle, void*, std::uint32_t, std::uint32_t* bytesRead) {
    if (bytesRead != nullptr) *bytesRead = 0;
    return false;
}
bool EscapeCommFunction(Handle, std::uint32_t) {
    return false;
}
bool GetCommModemStatus(Handle, std::uint32_t*) {
    return false;
}
bool CloseHandle(Handle handle) {
    return handle != kNoHandle && handle != kInvalidHandle;
}

void keybd_event(std::uint8_t, std::uint8_t, std::uint32_t, std::uintptr_t) {}

Handle CreateThread(ThreadProc, void*, std::uint32_t* threadId) {
    if (threadId != nullptr) *threadId = 1;
    return ++nextHandle;
}
Handle CreateEventW(bool, bool, const char16_t*) {
    return ++nextHandle;
}
bool SetEvent(Handle) {
    return true;
}
std::uint32_t WaitForSingleObject(Handle, std::uint32_t) {
    return WAIT_OBJECT_0;
}
void Sleep(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform
