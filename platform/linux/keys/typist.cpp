// The modifier bookkeeping between the program's Windows key events and the
// keys really pressed.
#include "platform/linux/keys/typist_private.h"

#include <linux/input-event-codes.h>

namespace platform::linuxkeys {
namespace {

constexpr KeyCode kControlL = KEY_LEFTCTRL + kEvdevOffset;
constexpr KeyCode kAltL = KEY_LEFTALT + kEvdevOffset;

}  // namespace

void KeyTypist::Press(KeyCode code) {
    if (code == kNoKey || down_[code]) return;
    injector_.SendKey(code, true);
    down_[code] = true;
    order_[downCount_++] = code;
}

void KeyTypist::Release(KeyCode code) {
    if (code == kNoKey || !down_[code]) return;
    injector_.SendKey(code, false);
    down_[code] = false;
    int i = 0;
    while (i < downCount_ && order_[i] != code) ++i;
    for (; i + 1 < downCount_; ++i) order_[i] = order_[i + 1];
    --downCount_;
}

void KeyTypist::KeyEvent(std::uint8_t virtualKey, bool down) {
    switch (virtualKey) {
        case kVkShift:
        case kVkLShift:
            shift_ = down;
            if (down && shiftDown_ == kNoKey) {
                shiftDown_ = layout_.ShiftCode();
                Press(shiftDown_);
            } else if (!down) {
                Release(shiftDown_);
                shiftDown_ = kNoKey;
            }
            return;
        case kVkControl:
        case kVkLControl:
        case kVkMenu:
        case kVkLMenu: {
            const bool control = virtualKey == kVkControl || virtualKey == kVkLControl;
            (control ? control_ : alt_) = down;
            if (down) return;  // pressed when a key needs it
            KeyCode& held = control ? controlDown_ : altDown_;
            Release(held);
            held = kNoKey;
            // Without both, no AltGr any more.
            Release(level3Down_);
            level3Down_ = kNoKey;
            return;
        }
        default:
            if (down)
                PressKey(virtualKey);
            else
                ReleaseKey(virtualKey);
    }
}

void KeyTypist::PressKey(std::uint8_t virtualKey) {
    const bool altGr = control_ && alt_ && layout_.Level3Code() != kNoKey;
    if (altGr) {
        Release(controlDown_);
        controlDown_ = kNoKey;
        Release(altDown_);
        altDown_ = kNoKey;
        if (level3Down_ == kNoKey) {
            level3Down_ = layout_.Level3Code();
            Press(level3Down_);
        }
    } else {
        Release(level3Down_);
        level3Down_ = kNoKey;
        if (control_ && controlDown_ == kNoKey) Press(controlDown_ = kControlL);
        if (alt_ && altDown_ == kNoKey) Press(altDown_ = kAltL);
    }
    const int level = (shift_ ? kLevelShift : 0) | (altGr ? kLevelAltGr : 0);
    const KeyCode code = layout_.CodeFor(virtualKey, level);
    if (code == kNoKey) return;
    ReleaseKey(virtualKey);
    pressedFor_[virtualKey] = code;
    Press(code);
}

void KeyTypist::ReleaseKey(std::uint8_t virtualKey) {
    Release(pressedFor_[virtualKey]);
    pressedFor_[virtualKey] = kNoKey;
}

void KeyTypist::ReleaseAll() {
    while (downCount_ > 0) Release(order_[downCount_ - 1]);
    control_ = alt_ = shift_ = false;
    controlDown_ = altDown_ = level3Down_ = shiftDown_ = kNoKey;
    for (KeyCode& code : pressedFor_) code = kNoKey;
}

}  // namespace platform::linuxkeys
