// Which physical key a Windows virtual key stands for on the active XKB
// layout, as Windows maps virtual keys through its own active layout. Built
// from an xkbcommon keymap (read from the X server or compiled from names),
// rebuilt only when the layout changes; lookups never allocate.
#pragma once

#include "platform/services.h"

#include <cstddef>
#include <cstdint>

struct xkb_keymap;

namespace platform::linuxkeys {

// Key codes are XKB (X) key codes: the kernel's evdev code plus 8.
using KeyCode = std::uint8_t;
inline constexpr KeyCode kNoKey = 0;
inline constexpr int kEvdevOffset = 8;

// Modifier levels a key is typed at: Shift and AltGr (ISO_Level3_Shift).
inline constexpr int kLevelShift = 1;
inline constexpr int kLevelAltGr = 2;
inline constexpr int kLevelCount = 4;

// What the loaded keyboard table says a key types: the byte the table gives
// this (virtual key, Shift, AltGr) entry for, as a Unicode character.
using KeyHint = platform::KeyHint;

class KeyLayout {
  public:
    // Reads the keymap at the given layout group (its effective layout
    // index). Returns false, and keeps the US positions, when no state can be
    // made from it. Allocates (xkbcommon states): call on a change only.
    bool Build(xkb_keymap* keymap, std::uint32_t group);
    // The US positions alone, as with no keymap at all.
    void BuildFallback();

    // Replaces the hints and applies them to the current keymap. Later
    // Build calls keep them. Hints for other than VK_OEM_* keys are ignored:
    // letters, digits and named keys have fixed meanings.
    void SetHints(const KeyHint* hints, std::size_t count);

    // The key for `virtualKey` typed at `level` (kLevelShift | kLevelAltGr);
    // kNoKey for a virtual key that has no key.
    KeyCode CodeFor(std::uint8_t virtualKey, int level) const {
        return codes_[virtualKey][level & 3];
    }
    // The key that selects the third level (AltGr), kNoKey when the keymap
    // has none; the left Shift key.
    KeyCode Level3Code() const { return level3_; }
    KeyCode ShiftCode() const { return shift_; }

    // What a key types at a level on this layout: its Unicode character
    // (0 for none) and its keysym.
    char32_t CharacterAt(KeyCode code, int level) const { return chars_[level & 3][code]; }
    std::uint32_t KeysymAt(KeyCode code, int level) const { return syms_[level & 3][code]; }
    // The first key of the typing block that types `character` at `level`
    // (keypad and media keys are left out), kNoKey when there is none.
    KeyCode FindCharacter(char32_t character, int level) const;
    // A number that tells layouts apart: what the typing block types at each
    // level, and which key each virtual key is. Keys outside the typing block
    // (the spare keys bound to characters among them) do not count. Never 0.
    std::uintptr_t Fingerprint() const;

  private:
    void ApplyMapping();
    void GiveUnnamedKeysToOemKeys();

    KeyCode codes_[256][kLevelCount] = {};
    char32_t chars_[kLevelCount][256] = {};
    std::uint32_t syms_[kLevelCount][256] = {};
    char32_t hints_[256][kLevelCount] = {};
    KeyCode level3_ = kNoKey;
    KeyCode shift_ = kNoKey;
};

// The evdev code of a virtual key at its US position (named keys, digits,
// letters, punctuation); 0 for a virtual key with no key.
std::uint16_t UsPositionOf(std::uint8_t virtualKey);
// The punctuation keys whose meaning follows the loaded table's hints.
bool IsOemKey(std::uint8_t virtualKey);

}  // namespace platform::linuxkeys
