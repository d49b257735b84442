// keybd_event on Linux: each Windows key event goes to the session's
// keystroke output (XTest or uinput), which places it on the active layout.
// The output opens at the first event; when it cannot, that event reports
// what is missing, once; so does the first write to the output that fails.
#include "platform/linux/keyboard.h"

#include <mutex>

#include "platform/linux/keyboard_private.h"
#include "platform/linux/keys/key_output_private.h"
#include "platform/reports.h"
#include "platform/services.h"
#include "platform/text.h"

namespace platform {
namespace {

// The output and what has been said about it. The reception thread types; a
// quit may release from the dialog thread: everything here is under `lock`.
struct KeyboardState {
    std::mutex lock;
    linuxkeys::KeyOutput output;
    bool opened = false;
    const char16_t* failure = nullptr;
    bool failureShown = false;
    bool characterLeftOut = false;
    bool ended = false;
    char16_t lostMessage[kReportCapacity] = {};
};
KeyboardState keyboard;

const char16_t* OpenLocked() {
    if (!keyboard.opened) {
        keyboard.opened = true;
        keyboard.failure = keyboard.output.Open();
        keyboard.failureShown = false;
        keyboard.characterLeftOut = false;
    }
    return keyboard.failure;
}

}  // namespace

void keybd_event(std::uint8_t virtualKey, std::uint8_t, std::uint32_t flags, std::uintptr_t) {
    const char16_t* message = nullptr;
    ReportKind kind = ReportKind::kKeystrokesLost;
    {
        std::lock_guard<std::mutex> lock(keyboard.lock);
        if (keyboard.ended) return;
        if (OpenLocked() == nullptr) {
            keyboard.output.KeyEvent(virtualKey, (flags & kKeyEventFKeyUp) == 0);
            // The output says each failure once.
            bool cannotType = false;
            const char16_t* lost = keyboard.output.WriteFailure(&cannotType);
            if (lost == nullptr) return;
            StrCopy(keyboard.lostMessage, kReportCapacity, lost);
            if (cannotType) kind = ReportKind::kKeyboardOutput;
            message = keyboard.lostMessage;
        } else {
            if (keyboard.failureShown) return;
            keyboard.failureShown = true;
            message = keyboard.failure;
            kind = ReportKind::kKeyboardOutput;
        }
        // Under the lock: a close would overwrite the text. No box here: the
        // dialog thread shows it, and the reception thread types on.
        PostReport(kind, message);
    }
}

void SetKeyHints(const KeyHint* hints, std::size_t count) {
    std::lock_guard<std::mutex> lock(keyboard.lock);
    keyboard.output.SetHints(hints, count);
}

// The output opened at start (the process entry) has claimed the record and
// given back what a killed run left on the display (keys/key_record).
void ClaimKeyRecord() {}

const char16_t* OpenKeyboardOutput() {
    std::lock_guard<std::mutex> lock(keyboard.lock);
    keyboard.ended = false;
    return OpenLocked();
}

// A line waiting for a spare code holds the lock: it is told to give up first.
void ReleaseAllKeys() {
    keyboard.output.CancelWaits(true);
    std::lock_guard<std::mutex> lock(keyboard.lock);
    keyboard.output.CancelWaits(false);
    keyboard.output.ReleaseAll();
}

void CloseKeyboardOutput() {
    keyboard.output.CancelWaits(true);
    std::lock_guard<std::mutex> lock(keyboard.lock);
    keyboard.output.CancelWaits(false);
    keyboard.output.Close();
    keyboard.opened = false;
    keyboard.failure = nullptr;
}

void EndKeyboardOutput() {
    keyboard.output.CancelWaits(true);
    std::lock_guard<std::mutex> lock(keyboard.lock);
    keyboard.output.CancelWaits(false);
    keyboard.ended = true;
    keyboard.output.Close();
    keyboard.opened = false;
    keyboard.failure = nullptr;
}

KeyboardOutputAccess::KeyboardOutputAccess() {
    keyboard.lock.lock();
    output_ = !keyboard.ended && OpenLocked() == nullptr ? &keyboard.output : nullptr;
}

KeyboardOutputAccess::~KeyboardOutputAccess() {
    keyboard.lock.unlock();
}

bool KeyboardOutputAccess::FirstCharacterLeftOut() {
    const bool first = !keyboard.characterLeftOut;
    keyboard.characterLeftOut = true;
    return first;
}

}  // namespace platform
