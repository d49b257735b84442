// Turns the program's Windows key events (virtual key, press or release) into
// presses of physical keys. Windows reads Control and left Alt held together
// as AltGr; X does not, so for a key pressed while both are held the typist
// presses the layout's ISO_Level3_Shift key instead of them. Every release
// mirrors a press that was really made, so no key is left down.
#pragma once

#include <cstdint>

#include "platform/linux/keys/key_injector_private.h"
#include "platform/linux/keys/key_layout_private.h"

namespace platform::linuxkeys {

class KeyTypist {
  public:
    KeyTypist(const KeyLayout& layout, KeyInjector& injector)
        : layout_(layout), injector_(injector) {}

    // One key event as the program sends it.
    void KeyEvent(std::uint8_t virtualKey, bool down);
    // Releases every key still down, the last pressed first, and forgets the
    // modifiers the program holds (used when it quits or the output closes).
    void ReleaseAll();
    // Whether any key is down (for tests and for closing).
    bool AnyKeyDown() const { return downCount_ != 0; }

  private:
    void Press(KeyCode code);
    void Release(KeyCode code);
    void PressKey(std::uint8_t virtualKey);
    void ReleaseKey(std::uint8_t virtualKey);

    const KeyLayout& layout_;
    KeyInjector& injector_;
    // What the program holds, as it believes: Control and left Alt are not
    // pressed until a key needs them, since together they become AltGr.
    bool control_ = false;
    bool alt_ = false;
    bool shift_ = false;
    // What is really down, and in which order.
    bool down_[256] = {};
    KeyCode order_[256] = {};
    int downCount_ = 0;
    KeyCode controlDown_ = kNoKey;
    KeyCode altDown_ = kNoKey;
    KeyCode level3Down_ = kNoKey;
    KeyCode shiftDown_ = kNoKey;
    // The key each virtual key pressed, so that its release lets go of that
    // same key even if the layout changed in between.
    KeyCode pressedFor_[256] = {};
};

}  // namespace platform::linuxkeys
