// The keymap the virtual keyboard types on: each keysym a line needs gets a
// key code of its own, on a key with one level, so that what arrives depends
// on no modifier, dead key or Caps Lock, and on nothing of the user's layout.
// Codes bound for earlier lines stay bound (the next line seldom needs a new
// upload) until a line needs their code. Never allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/linux/keys/key_layout_private.h"

namespace platform::linuxkeys {

// The keysym our keymap types `character` with: Latin-1's own (the same
// number), else the Unicode keysym, which every toolkit reads as its
// character; some lack the legacy keysym of a few (GTK 3 types nothing for
// "permille", U+2030).
std::uint32_t KeysymOf(char32_t character);

class OwnKeymap {
  public:
    // Room for the text with every code bound to the longest keysym name.
    static constexpr std::size_t kTextSize = 32768;
    // Key codes 9 to 255: XWayland's clients cannot see codes above 255.
    static constexpr KeyCode kFirstCode = 9;

    // Starts a line: what it binds from now on is kept while it is typed.
    void BeginLine() { ++line_; }
    // The code typing `keysym`, bound now if it has none (Changed() is then
    // true until the text has reached the compositor); kNoKey when every
    // code is taken by the current line.
    KeyCode Bind(std::uint32_t keysym);
    bool Changed() const { return changed_; }
    // Writes the keymap as XKB text with its terminating zero; returns its
    // size with the zero, or 0 when `capacity` is too small.
    std::size_t Write(char* text, std::size_t capacity) const;
    // The text written last has reached the compositor. Until then the
    // bindings stay marked as changed: a key sent on a code whose keysym
    // never arrived would type whatever the compositor last had there.
    void Sent() { changed_ = false; }
    void Clear();

  private:
    std::uint32_t keysyms_[256] = {};
    std::uint32_t lineOf_[256] = {};
    std::uint32_t line_ = 1;
    bool changed_ = false;
};

}  // namespace platform::linuxkeys
