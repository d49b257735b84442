// Keyboard layouts on Windows: the layout calls passed through (characters
// sent as themselves go through SendInput, in keyboard.cpp). Under Wine two of them
// need help: ToUnicodeEx reports a dead key only to a thread that has a
// focused window (to others it types the accent), and GetKeyState sees the
// desktop's Caps Lock only from such a thread, from its second call on.
// The seam comes before <windows.h>: its constants share names with Windows macros.
#include "platform/services.h"

#include <windows.h>

namespace platform {
namespace {

bool RunningUnderWine() {
    static const bool wine =
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// A hidden window of the calling thread, holding that thread's focus, so that
// Wine answers dead keys as Windows does. Desktop Windows needs none (and a
// window in a thread that pumps no messages would hold up broadcasts).
void GiveThreadAFocusedWindow() {
    static thread_local bool given = false;
    if (given || !RunningUnderWine()) return;
    given = true;
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) return;
    ::SetActiveWindow(window);
    ::SetFocus(window);
}

HKL ToHkl(KeyboardLayout layout) {
    return reinterpret_cast<HKL>(layout);
}

}  // namespace

WindowHandle GetForegroundWindow() {
    return static_cast<WindowHandle>(reinterpret_cast<std::uintptr_t>(::GetForegroundWindow()));
}

std::uint32_t GetWindowThreadProcessId(WindowHandle window, std::uint32_t* processId) {
    DWORD process = 0;
    const DWORD thread = ::GetWindowThreadProcessId(
        reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)), &process);
    if (processId != nullptr) *processId = process;
    return thread;
}

KeyboardLayout GetKeyboardLayout(std::uint32_t threadId) {
    return reinterpret_cast<KeyboardLayout>(::GetKeyboardLayout(threadId));
}

std::int16_t VkKeyScanExW(char16_t character, KeyboardLayout layout) {
    return ::VkKeyScanExW(static_cast<WCHAR>(character), ToHkl(layout));
}

std::int32_t ToUnicodeEx(std::uint32_t virtualKey, std::uint32_t scanCode,
                         const std::uint8_t* keyState, char16_t* buffer, std::int32_t bufferSize,
                         std::uint32_t flags, KeyboardLayout layout) {
    GiveThreadAFocusedWindow();
    return ::ToUnicodeEx(virtualKey, scanCode, keyState, reinterpret_cast<LPWSTR>(buffer),
                         bufferSize, flags, ToHkl(layout));
}

std::uint32_t MapVirtualKeyExW(std::uint32_t code, std::uint32_t mapType, KeyboardLayout layout) {
    return ::MapVirtualKeyExW(code, mapType, ToHkl(layout));
}

std::int16_t GetKeyState(std::int32_t virtualKey) {
    GiveThreadAFocusedWindow();
    ::GetKeyState(virtualKey);
    return ::GetKeyState(virtualKey);
}

// Windows types any character sent as itself: nothing to prepare.
void PrepareCharacters(const char16_t*, std::size_t) {}

}  // namespace platform
