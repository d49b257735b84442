// The Windows layout calls (VkKeyScanExW, ToUnicodeEx, MapVirtualKeyExW)
// answered from an XKB layout, through the same virtual key to key code
// mapping the keystrokes are typed with: a plan made from these answers types
// what they say.
#pragma once

#include <cstdint>

#include "platform/linux/keys/compose_private.h"
#include "platform/linux/keys/key_layout_private.h"

namespace platform::linuxkeys {

class LayoutQueries {
  public:
    // The virtual key and kVkScan* modifier bits of the first key (fewest
    // modifiers first) that types `character`; -1 when none does. Dead keys
    // are not named.
    static std::int16_t KeyScan(const KeyLayout& layout, char16_t character);
    // The key code a virtual key types with, as its "scan code"; 0 for none.
    static std::uint32_t ScanCode(const KeyLayout& layout, std::uint8_t virtualKey);
    // What `virtualKey` types with the modifiers `keyState` holds (Shift;
    // Control and Alt together as AltGr), as ToUnicodeEx counts it: -1 for a
    // dead key (its accent in `buffer`), which then waits and composes with
    // the next key through `deadKeys`; 2 when the two do not compose (the
    // accent, then the key's character).
    int ToUnicode(const KeyLayout& layout, DeadKeys& deadKeys, std::uint8_t virtualKey,
                  const std::uint8_t* keyState, char16_t* buffer, int bufferSize);
    // Forgets a waiting dead key (the layout changed).
    void Reset() { pending_ = 0; }

  private:
    std::uint32_t pending_ = 0;
};

}  // namespace platform::linuxkeys
