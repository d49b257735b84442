// Pressing and releasing characters on spare key codes.
#include "platform/linux/keys/spare_characters_private.h"

#include "platform/codes.h"

namespace platform::linuxkeys {

bool SpareCharacters::Press(_XDisplay* display, char32_t character) {
    Release();
    bool shift = false, cancelled = false;
    const KeyCode code = spares_.Bind(display, character, shift, cancelled);
    if (code == kNoKey) return cancelled;
    if (shift) typist_.KeyEvent(kVkShift, true);
    shift_ = shift;
    spares_.Pressed(code);
    spares_.EventSent();
    xtest_.SendKey(code, true);
    down_ = code;
    return true;
}

void SpareCharacters::Release() {
    if (down_ == kNoKey) return;
    spares_.EventSent();
    xtest_.SendKey(down_, false);
    spares_.Released(down_);
    down_ = kNoKey;
    if (shift_) typist_.KeyEvent(kVkShift, false);
    shift_ = false;
}

void SpareCharacters::Restore(_XDisplay* display) {
    if (display != nullptr) spares_.Restore(display);
    spares_.Forget();
}

}  // namespace platform::linuxkeys
