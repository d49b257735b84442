// Virtual keys to XKB key codes on the active layout: letters by the keysym
// they type, digits on the top row, named keys at their fixed places, and
// punctuation by the character the loaded table says it types.
#include "platform/linux/keys/key_layout_private.h"

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

namespace platform::linuxkeys {
namespace {

// Evdev codes of the keys of a US keyboard, by virtual key.
struct UsPositions {
    std::uint16_t code[256] = {};

    constexpr UsPositions() {
        code[kVkBack] = KEY_BACKSPACE;
        code[kVkTab] = KEY_TAB;
        code[kVkClear] = KEY_KP5;  // keypad 5 without Num Lock
        code[kVkReturn] = KEY_ENTER;
        code[kVkShift] = KEY_LEFTSHIFT;
        code[kVkControl] = KEY_LEFTCTRL;
        code[kVkMenu] = KEY_LEFTALT;
        code[kVkPause] = KEY_PAUSE;
        code[kVkCapital] = KEY_CAPSLOCK;
        code[kVkEscape] = KEY_ESC;
        code[kVkSpace] = KEY_SPACE;
        code[kVkPrior] = KEY_PAGEUP;
        code[kVkNext] = KEY_PAGEDOWN;
        code[kVkEnd] = KEY_END;
        code[kVkHome] = KEY_HOME;
        code[kVkLeft] = KEY_LEFT;
        code[kVkUp] = KEY_UP;
        code[kVkRight] = KEY_RIGHT;
        code[kVkDown] = KEY_DOWN;
        code[kVkSnapshot] = KEY_SYSRQ;
        code[kVkInsert] = KEY_INSERT;
        code[kVkDelete] = KEY_DELETE;
        code[kVk0] = KEY_0;
        for (int i = 1; i <= 9; ++i) code[kVk0 + i] = static_cast<std::uint16_t>(KEY_1 + i - 1);
        const std::uint16_t letters[26] = {KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G,
                                           KEY_H, KEY_I, KEY_J, KEY_K, KEY_L, KEY_M, KEY_N,
                                           KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U,
                                           KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
        for (int i = 0; i < 26; ++i) code[kVkA + i] = letters[i];
        code[kVkLWin] = KEY_LEFTMETA;
        code[kVkRWin] = KEY_RIGHTMETA;
        code[kVkApps] = KEY_COMPOSE;
        const std::uint16_t keypad[10] = {KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4,
                                          KEY_KP5, KEY_KP6, KEY_KP7, KEY_KP8, KEY_KP9};
        for (int i = 0; i < 10; ++i) code[kVkNumpad0 + i] = keypad[i];
        code[kVkMultiply] = KEY_KPASTERISK;
        code[kVkAdd] = KEY_KPPLUS;
        code[kVkSeparator] = KEY_KPCOMMA;
        code[kVkSubtract] = KEY_KPMINUS;
        code[kVkDecimal] = KEY_KPDOT;
        code[kVkDivide] = KEY_KPSLASH;
        for (int i = 0; i < 10; ++i) code[kVkF1 + i] = static_cast<std::uint16_t>(KEY_F1 + i);
        code[kVkF11] = KEY_F11;
        code[kVkF12] = KEY_F12;
        for (int i = 0; i <= kVkF24 - kVkF13; ++i)
            code[kVkF13 + i] = static_cast<std::uint16_t>(KEY_F13 + i);
        code[kVkNumLock] = KEY_NUMLOCK;
        code[kVkScroll] = KEY_SCROLLLOCK;
        code[kVkLShift] = KEY_LEFTSHIFT;
        code[kVkRShift] = KEY_RIGHTSHIFT;
        code[kVkLControl] = KEY_LEFTCTRL;
        code[kVkRControl] = KEY_RIGHTCTRL;
        code[kVkLMenu] = KEY_LEFTALT;
        code[kVkRMenu] = KEY_RIGHTALT;
        code[kVkOem1] = KEY_SEMICOLON;
        code[kVkOemPlus] = KEY_EQUAL;
        code[kVkOemComma] = KEY_COMMA;
        code[kVkOemMinus] = KEY_MINUS;
        code[kVkOemPeriod] = KEY_DOT;
        code[kVkOem2] = KEY_SLASH;
        code[kVkOem3] = KEY_GRAVE;
        code[kVkOem4] = KEY_LEFTBRACE;
        code[kVkOem5] = KEY_BACKSLASH;
        code[kVkOem6] = KEY_RIGHTBRACE;
        code[kVkOem7] = KEY_APOSTROPHE;
        code[kVkOem8] = KEY_GRAVE;    // where UK keyboards have it
        code[kVkOem102] = KEY_102ND;  // the key between left Shift and Z
    }
};

constexpr UsPositions kUsPositions;

// The keys a character is looked for on: the typing block (the top row to
// the slash key, Space, the key left of Z, and the Brazilian and Japanese
// extra keys). The keypad and the media keys also carry characters on some
// layouts ('(' on KEY_KPLEFTPAREN), but no table means them.
constexpr bool IsTypingBlock(int code) {
    const int evdev = code - kEvdevOffset;
    return (evdev >= KEY_1 && evdev <= KEY_SLASH) || evdev == KEY_SPACE || evdev == KEY_102ND ||
           evdev == KEY_RO || evdev == KEY_YEN;
}

KeyCode ToKeyCode(std::uint16_t evdev) {
    return evdev == 0 ? kNoKey : static_cast<KeyCode>(evdev + kEvdevOffset);
}

// Among the keys that produce `keysym` at the first level, the preferred one if
// it is there, else the lowest.
KeyCode FindModifierKey(xkb_keymap* keymap, std::uint32_t group, xkb_keysym_t keysym,
                        KeyCode preferred) {
    KeyCode found = kNoKey;
    for (std::uint32_t code = 8; code < 256; ++code) {
        const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap, code);
        if (layouts == 0) continue;
        const xkb_keysym_t* syms = nullptr;
        int n = xkb_keymap_key_get_syms_by_level(keymap, code, group % layouts, 0, &syms);
        if (n != 1 || syms[0] != keysym) continue;
        if (code == preferred) return preferred;
        if (found == kNoKey) found = static_cast<KeyCode>(code);
    }
    return found;
}

}  // namespace

std::uint16_t UsPositionOf(std::uint8_t virtualKey) {
    return kUsPositions.code[virtualKey];
}

bool IsOemKey(std::uint8_t vk) {
    return (vk >= kVkOem1 && vk <= kVkOem3) || (vk >= kVkOem4 && vk <= kVkOem8) ||
           (vk >= kVkOemAx && vk <= kVkIco00) || vk == kVkIcoClear ||
           (vk >= kVkOemFjJisho && vk <= kVkOemFjRoya) ||
           (vk >= kVkOemReset && vk <= kVkOemBacktab);
}

void KeyLayout::BuildFallback() {
    for (auto& level : chars_)
        for (auto& c : level) c = 0;
    for (auto& level : syms_)
        for (auto& s : level) s = 0;
    level3_ = kNoKey;
    shift_ = ToKeyCode(KEY_LEFTSHIFT);
    ApplyMapping();
}

bool KeyLayout::Build(xkb_keymap* keymap, std::uint32_t group) {
    if (keymap == nullptr) {
        BuildFallback();
        return false;
    }
    // The right Alt key is AltGr on a physical keyboard; the <LVL3> key (92)
    // exists only in keymaps, so take the right Alt key when it selects the
    // third level.
    level3_ = FindModifierKey(keymap, group, XKB_KEY_ISO_Level3_Shift, ToKeyCode(KEY_RIGHTALT));
    shift_ = FindModifierKey(keymap, group, XKB_KEY_Shift_L, ToKeyCode(KEY_LEFTSHIFT));
    if (shift_ == kNoKey) shift_ = ToKeyCode(KEY_LEFTSHIFT);

    // What each key types at each level, found by pressing the modifier keys
    // in a state of our own, so that the keymap's own actions decide.
    for (int level = 0; level < kLevelCount; ++level) {
        xkb_state* state = xkb_state_new(keymap);
        if (state == nullptr) {
            BuildFallback();
            return false;
        }
        xkb_state_update_mask(state, 0, 0, 0, 0, 0, group);
        bool usable = true;
        if ((level & kLevelShift) != 0) xkb_state_update_key(state, shift_, XKB_KEY_DOWN);
        if ((level & kLevelAltGr) != 0) {
            if (level3_ == kNoKey)
                usable = false;
            else
                xkb_state_update_key(state, level3_, XKB_KEY_DOWN);
        }
        for (std::uint32_t code = 0; code < 256; ++code) {
            const bool valid = usable && code >= 8;
            chars_[level][code] = valid ? xkb_state_key_get_utf32(state, code) : 0;
            syms_[level][code] = valid ? xkb_state_key_get_one_sym(state, code) : 0;
        }
        xkb_state_unref(state);
    }
    ApplyMapping();
    return true;
}

KeyCode KeyLayout::FindCharacter(char32_t character, int level) const {
    if (character == 0) return kNoKey;
    for (int code = 8; code < 256; ++code) {
        if (chars_[level & 3][code] == character && IsTypingBlock(code)) {
            return static_cast<KeyCode>(code);
        }
    }
    return kNoKey;
}

std::uintptr_t KeyLayout::Fingerprint() const {
    // FNV-1a, 64 bits.
    std::uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](std::uint64_t value) {
        for (int i = 0; i < 8; ++i) {
            hash ^= (value >> (8 * i)) & 0xFF;
            hash *= 1099511628211ull;
        }
    };
    for (int code = 8; code < 256; ++code) {
        if (!IsTypingBlock(code)) continue;
        for (const auto& level : syms_) mix(level[code]);
    }
    for (const auto& vk : codes_)
        for (KeyCode code : vk) mix(code);
    mix(level3_);
    mix(shift_);
    const auto identity = static_cast<std::uintptr_t>(hash);
    return identity != 0 ? identity : 1;
}

void KeyLayout::SetHints(const KeyHint* hints, std::size_t count) {
    for (auto& vk : hints_)
        for (auto& c : vk) c = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const KeyHint& hint = hints[i];
        if (!IsOemKey(hint.virtualKey)) continue;
        const int level = (hint.shift ? kLevelShift : 0) | (hint.altGr ? kLevelAltGr : 0);
        char32_t& slot = hints_[hint.virtualKey][level];
        if (slot == 0) slot = hint.character;  // the first byte a table gives a key wins
    }
    ApplyMapping();
}

void KeyLayout::ApplyMapping() {
    for (int vk = 0; vk < 256; ++vk) {
        const KeyCode us = ToKeyCode(UsPositionOf(static_cast<std::uint8_t>(vk)));
        KeyCode code = us;
        if (vk >= 'A' && vk <= 'Z') {
            // The key whose plain level types the lower-case letter, as
            // Windows finds it on AZERTY or QWERTZ.
            KeyCode letter = FindCharacter(static_cast<char32_t>(vk - 'A' + 'a'), 0);
            if (letter != kNoKey) code = letter;
        }
        for (int level = 0; level < kLevelCount; ++level) codes_[vk][level] = code;
        if (!IsOemKey(static_cast<std::uint8_t>(vk))) continue;

        // A punctuation key is the key that types, at the same level, what
        // the table says it types. A level whose character the layout lacks
        // takes the key found for another level of the same virtual key, so
        // the key stays one key as on Windows; with no hint found at all it
        // keeps its US position.
        KeyCode found[kLevelCount] = {};
        KeyCode any = kNoKey;
        for (int level = 0; level < kLevelCount; ++level) {
            found[level] = FindCharacter(hints_[vk][level], level);
            if (any == kNoKey) any = found[level];
        }
        for (int level = 0; level < kLevelCount; ++level) {
            if (found[level] != kNoKey)
                codes_[vk][level] = found[level];
            else if (any != kNoKey)
                codes_[vk][level] = any;
        }
    }
    GiveUnnamedKeysToOemKeys();
}

void KeyLayout::GiveUnnamedKeysToOemKeys() {
    // Where a letter moved onto a punctuation key (AZERTY's M, Dvorak's S, W,
    // V and Z), that key's US virtual key would be a second name for the
    // letter, and the key the letter left would have no name at all: as
    // Windows does, such a virtual key names the key left over instead.
    bool named[256] = {};
    for (int vk = 0; vk < 256; ++vk)
        if (vk == ' ' || (vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z') ||
            IsOemKey(static_cast<std::uint8_t>(vk)))
            named[codes_[vk][0]] = true;
    int next = 8;
    auto nextUnnamed = [&]() -> KeyCode {
        for (; next < 256; ++next)
            if (IsTypingBlock(next) && !named[next] && chars_[0][next] >= 0x20)
                return static_cast<KeyCode>(next++);
        return kNoKey;
    };
    for (int vk = 0; vk < 256; ++vk) {
        if (!IsOemKey(static_cast<std::uint8_t>(vk))) continue;
        bool hinted = false;
        for (char32_t hint : hints_[vk]) hinted = hinted || hint != 0;
        const KeyCode code = codes_[vk][0];
        if (hinted || code == kNoKey) continue;
        bool letter = false;
        for (int l = 'A'; l <= 'Z'; ++l) letter = letter || codes_[l][0] == code;
        if (!letter) continue;
        const KeyCode free = nextUnnamed();
        if (free == kNoKey) return;
        for (KeyCode& c : codes_[vk]) c = free;
    }
}

}  // namespace platform::linuxkeys
