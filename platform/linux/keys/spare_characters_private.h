// Characters that no key of the layout types, pressed on X through a spare
// key code bound to them for the moment (SpareKeys). A capital letter is the
// Shift level of its code, so Shift is held through the typist for it.
#pragma once

#include "platform/linux/keys/key_injector_private.h"
#include "platform/linux/keys/spare_keys_private.h"
#include "platform/linux/keys/typist_private.h"

struct _XDisplay;

namespace platform::linuxkeys {

class SpareCharacters {
  public:
    SpareCharacters(KeyTypist& typist, KeyInjector& xtest) : typist_(typist), xtest_(xtest) {}

    // Releases the character still down, then binds `character` to a spare
    // code and presses it. False when no code is spare: nothing is pressed.
    // A quit that cuts the wait for a code short presses nothing either.
    bool Press(_XDisplay* display, char32_t character);
    // Releases the character down, if any.
    void Release();
    // Undoes every binding still ours and forgets the codes (the output closes).
    void Restore(_XDisplay* display);

    SpareKeys& keys() { return spares_; }

  private:
    KeyTypist& typist_;
    KeyInjector& xtest_;
    SpareKeys spares_;
    KeyCode down_ = kNoKey;
    bool shift_ = false;
};

}  // namespace platform::linuxkeys
