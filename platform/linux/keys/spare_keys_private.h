// Characters no key of the layout types, typed on X through spare key codes
// (codes the keymap leaves without keysyms) bound to the character for the
// moment. A client reads a key code's keysym only when it handles the event,
// so a binding is kept a while after its press and several codes take turns;
// every binding is undone when the output closes.
#pragma once

#include <cstdint>

#include "platform/linux/keys/key_layout_private.h"

struct _XDisplay;

namespace platform::linuxkeys {

class SpareKeys {
  public:
    // Forgets the codes and their bindings without undoing them (a new
    // keymap replaced them); the next Bind chooses codes again.
    void Forget() { count_ = 0, chosen_ = false; }
    // The code bound to `character` (bound now, or still bound from before),
    // and whether Shift must be held to type it (a capital letter is the
    // second level of its lower/upper pair). kNoKey when no code is spare.
    KeyCode Bind(_XDisplay* display, char32_t character, bool& shift);
    // Unbinds every code still bound as we left it.
    void Restore(_XDisplay* display);
    // Whether every key code from `first` on for `count` is one of ours (a
    // keymap change of ours, not the user's).
    bool AllOurs(int first, int count) const;

  private:
    static constexpr int kMaxCodes = 16;
    struct Slot {
        KeyCode code;
        std::uint32_t lower;  // the keysyms bound, 0 while unbound
        std::uint32_t upper;
        std::int64_t usedNs;  // the last press (CLOCK_MONOTONIC)
    };
    void Choose(_XDisplay* display);

    Slot slots_[kMaxCodes] = {};
    int count_ = 0;
    bool chosen_ = false;
};

}  // namespace platform::linuxkeys
