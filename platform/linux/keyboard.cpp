// keybd_event on Linux: each Windows key event goes to the session's
// keystroke output (XTest or uinput), which places it on the active layout.
// The output opens at the first event; when it cannot, that event shows the
// message naming what is missing, once.
#include "platform/linux/keyboard.h"

#include <mutex>

#include "platform/linux/key_output.h"
#include "platform/services.h"

namespace platform {
namespace {

// The reception thread types; a quit may release from the dialog thread.
std::mutex outputLock;
linuxkeys::KeyOutput output;
bool opened = false;
const char16_t* failure = nullptr;
bool failureShown = false;
bool characterLeftOut = false;

const char16_t* OpenLocked() {
    if (!opened) {
        opened = true;
        failure = output.Open();
        failureShown = false;
        characterLeftOut = false;
    }
    return failure;
}

}  // namespace

void keybd_event(std::uint8_t virtualKey, std::uint8_t, std::uint32_t flags, std::uintptr_t) {
    const char16_t* message = nullptr;
    {
        std::lock_guard<std::mutex> lock(outputLock);
        if (OpenLocked() == nullptr) {
            output.KeyEvent(virtualKey, (flags & kKeyEventFKeyUp) == 0);
            return;
        }
        if (failureShown) return;
        failureShown = true;
        message = failure;
    }
    MessageBoxW(kNoWindow, message, u"Erreur", kMbOk);
}

void SetKeyHints(const KeyHint* hints, std::size_t count) {
    std::lock_guard<std::mutex> lock(outputLock);
    output.SetHints(hints, count);
}

const char16_t* OpenKeyboardOutput() {
    std::lock_guard<std::mutex> lock(outputLock);
    return OpenLocked();
}

void ReleaseAllKeys() {
    std::lock_guard<std::mutex> lock(outputLock);
    output.ReleaseAll();
}

void CloseKeyboardOutput() {
    std::lock_guard<std::mutex> lock(outputLock);
    output.Close();
    opened = false;
    failure = nullptr;
}

KeyboardOutputAccess::KeyboardOutputAccess() {
    outputLock.lock();
    output_ = OpenLocked() == nullptr ? &platform::output : nullptr;
}

KeyboardOutputAccess::~KeyboardOutputAccess() {
    outputLock.unlock();
}

bool KeyboardOutputAccess::FirstCharacterLeftOut() {
    const bool first = !characterLeftOut;
    characterLeftOut = true;
    return first;
}

}  // namespace platform
