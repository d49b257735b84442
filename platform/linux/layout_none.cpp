// Keyboard layouts and keystroke hints where Linux keystrokes are not built
// (no X or xkbcommon libraries): no layout is known, so every character would
// go as itself, and nothing types it.
#include "platform/services.h"

namespace platform {

void SetKeyHints(const KeyHint*, std::size_t) {}

WindowHandle GetForegroundWindow() {
    return kNoWindow;
}

std::uint32_t GetWindowThreadProcessId(WindowHandle, std::uint32_t* processId) {
    if (processId != nullptr) *processId = 0;
    return 0;
}

KeyboardLayout GetKeyboardLayout(std::uint32_t) {
    return 0;
}

std::int16_t VkKeyScanExW(char16_t, KeyboardLayout) {
    return -1;
}

std::int32_t ToUnicodeEx(std::uint32_t, std::uint32_t, const std::uint8_t*, char16_t*, std::int32_t,
                         std::uint32_t, KeyboardLayout) {
    return 0;
}

std::uint32_t MapVirtualKeyExW(std::uint32_t, std::uint32_t, KeyboardLayout) {
    return 0;
}

std::int16_t GetKeyState(std::int32_t) {
    return 0;
}

std::uint32_t SendInput(std::uint32_t, const KeyboardInput*) {
    return 0;
}

// X and the kernel have no integrity levels that would drop our events.
KeystrokeReach KeystrokesReachForegroundWindow(char16_t* program, std::size_t capacity) {
    if (capacity != 0) program[0] = 0;
    return KeystrokeReach::kReached;
}

// Every key goes by its key code on the layout in use: SEND_MODE is read and
// means nothing here.
bool SendModesApply() {
    return false;
}

void PrepareCharacters(const char16_t*, std::size_t) {}

}  // namespace platform
