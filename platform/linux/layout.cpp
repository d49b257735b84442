// Keyboard layouts on Linux: the current XKB keymap and group of the
// keystroke output (the X server's, or the system's keyboard configuration
// under uinput) answer Windows' layout questions, through the virtual key to
// key code mapping the keystrokes use. A character no key types goes to a
// spare key code bound to it on X, or typed as itself on the compositor's
// virtual keyboard; under uinput it is left out, with one report for the
// dialog thread to show.
#include <cstdio>
#include <iterator>

#include "platform/linux/keyboard_private.h"
#include "platform/linux/keys/key_output_private.h"
#include "platform/reports.h"
#include "platform/services.h"
#include "platform/text.h"

namespace platform {
namespace {

// The focused window's "thread": X has one layout for every window.
constexpr std::uint32_t kEveryWindow = 1;

// What is said about the first character left out: which one, and where.
void ShowCharacterLeftOut(char32_t character, const char* layoutName) {
    char text[3 * kReportCapacity];  // UTF-8
    unsigned char utf8[8] = {};
    const char16_t unit[2] = {static_cast<char16_t>(character), 0};
    EncodeUtf8(unit, utf8, sizeof utf8 - 1);
    std::snprintf(text, sizeof text,
                  "Le caractère %s (U+%04X) ne peut pas être tapé sur la disposition de clavier "
                  "%s : il est omis de la lecture, comme les autres dans ce cas ; la suite est "
                  "tapée.\nChoisissez une disposition qui a ce caractère, ou une table de "
                  "clavier qui ne l'envoie pas.",
                  reinterpret_cast<const char*>(utf8), static_cast<unsigned>(character),
                  layoutName[0] != 0 ? layoutName : "en usage");
    char16_t message[kReportCapacity];
    DecodeUtf8Terminated(text, message, std::size(message));
    PostReport(ReportKind::kCharacterLeftOut, message);
}

}  // namespace

WindowHandle GetForegroundWindow() {
    KeyboardOutputAccess access;
    return access.output() != nullptr ? WindowHandle{access.output()->FocusWindow()} : kNoWindow;
}

std::uint32_t GetWindowThreadProcessId(WindowHandle window, std::uint32_t* processId) {
    if (processId != nullptr) *processId = 0;
    return window != kNoWindow ? kEveryWindow : 0;
}

KeyboardLayout GetKeyboardLayout(std::uint32_t) {
    KeyboardOutputAccess access;
    return access.output() != nullptr ? access.output()->LayoutIdentity() : 0;
}

std::int16_t VkKeyScanExW(char16_t character, KeyboardLayout layout) {
    KeyboardOutputAccess access;
    linuxkeys::KeyOutput* output = access.output();
    if (output == nullptr || layout == 0 || output->CurrentIdentity() != layout) return -1;
    return output->KeyScan(character);
}

std::int32_t ToUnicodeEx(std::uint32_t virtualKey, std::uint32_t, const std::uint8_t* keyState,
                         char16_t* buffer, std::int32_t bufferSize, std::uint32_t,
                         KeyboardLayout layout) {
    KeyboardOutputAccess access;
    linuxkeys::KeyOutput* output = access.output();
    if (output == nullptr || layout == 0 || output->CurrentIdentity() != layout ||
        virtualKey > 0xFF)
        return 0;
    return output->ToUnicode(static_cast<std::uint8_t>(virtualKey), keyState, buffer, bufferSize);
}

std::uint32_t MapVirtualKeyExW(std::uint32_t code, std::uint32_t mapType, KeyboardLayout layout) {
    KeyboardOutputAccess access;
    linuxkeys::KeyOutput* output = access.output();
    if (output == nullptr || layout == 0 || output->CurrentIdentity() != layout ||
        mapType != kMapVkVkToVsc || code > 0xFF)
        return 0;
    return output->ScanCode(static_cast<std::uint8_t>(code));
}

std::int16_t GetKeyState(std::int32_t virtualKey) {
    if (virtualKey != kVkCapital) return 0;
    char16_t unknown[kReportCapacity] = {};
    bool on = false;
    {
        KeyboardOutputAccess access;
        if (access.output() != nullptr) {
            on = access.output()->CapsLockOn();
            if (const char16_t* text = access.output()->CapsLockUnknown(); text != nullptr)
                StrCopy(unknown, kReportCapacity, text);
        }
    }
    // Shown by the dialog thread: typing goes on meanwhile.
    if (unknown[0] != 0) PostReport(ReportKind::kCapsLockUnknown, unknown);
    return on ? 1 : 0;
}

std::uint32_t SendInput(std::uint32_t count, const KeyboardInput* inputs) {
    std::uint32_t sent = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const KeyboardInput& input = inputs[i];
        const bool release = (input.dwFlags & kKeyEventFKeyUp) != 0;
        if ((input.dwFlags & kKeyEventFUnicode) == 0) {
            keybd_event(static_cast<std::uint8_t>(input.wVk), 0, input.dwFlags & kKeyEventFKeyUp,
                        0);
            ++sent;
            continue;
        }
        char layoutName[128] = {};
        bool show = false;
        {
            KeyboardOutputAccess access;
            linuxkeys::KeyOutput* output = access.output();
            if (output != nullptr && output->CharacterEvent(input.wScan, !release)) {
                ++sent;
                continue;
            }
            // With no output at all, the keystrokes' own message says why.
            if (output != nullptr && !release && access.FirstCharacterLeftOut()) {
                show = true;
                std::snprintf(layoutName, sizeof layoutName, "%s", output->LayoutName());
            }
        }
        if (show) ShowCharacterLeftOut(input.wScan, layoutName);
    }
    return sent;
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

void PrepareCharacters(const char16_t* characters, std::size_t count) {
    KeyboardOutputAccess access;
    if (access.output() != nullptr) access.output()->PrepareCharacters(characters, count);
}

}  // namespace platform
