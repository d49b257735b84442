// Keystrokes on Linux beyond the seam: an early open of the output, and
// letting go of every key when the program quits.
#pragma once

#include <cstddef>

#include "platform/linux/key_layout.h"

namespace platform {
namespace linuxkeys {
class KeyOutput;
}

// SetKeyHints (services.h) makes each VK_OEM_* key the key that types the
// table's character on the active layout.

// Opens the keystroke output now rather than at the first key event (a new
// uinput device needs a moment before the desktop reads it). Returns null, or
// the message naming what is missing; the first key event then shows it.
const char16_t* OpenKeyboardOutput();
// Releases every key our events hold down. Safe from any thread.
void ReleaseAllKeys();
// Releases every key and closes the output; the next key event opens it
// again (and shows its message again if it still cannot).
void CloseKeyboardOutput();

// The layout calls (layout.cpp) ask the same output the keystrokes go to,
// under its lock, for as long as this lives; the output opens if need be.
class KeyboardOutputAccess {
  public:
    KeyboardOutputAccess();
    ~KeyboardOutputAccess();
    KeyboardOutputAccess(const KeyboardOutputAccess&) = delete;
    KeyboardOutputAccess& operator=(const KeyboardOutputAccess&) = delete;

    // Null when no output opens.
    linuxkeys::KeyOutput* output() const { return output_; }
    // True once for each opening of the output: the first character left
    // out shows a message, the others pass silently.
    bool FirstCharacterLeftOut();

  private:
    linuxkeys::KeyOutput* output_;
};

}  // namespace platform
