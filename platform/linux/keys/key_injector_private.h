// Where the typist's key presses go: the X server through XTest, or a uinput
// device of our own. Both take XKB key codes.
#pragma once

#include "platform/linux/keys/key_layout_private.h"

namespace platform::linuxkeys {

class KeyInjector {
  public:
    virtual ~KeyInjector() = default;
    // One press or release of a key, delivered before the call returns.
    virtual void SendKey(KeyCode code, bool down) = 0;
};

}  // namespace platform::linuxkeys
