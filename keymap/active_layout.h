// "Active keyboard layout": instead of a table, each received byte is taken as
// a Windows-1252 character and typed the way the focused window's keyboard
// layout types it. The lookup lives here once, over the seam's layout calls.
#pragma once

#include <cstdint>

#include "platform/services.h"

// The Keyboard list entry and KEYTABLE value that selects this mode. A
// settings section with this exact name is never read as a table.
inline constexpr char16_t kActiveLayoutName[] = u"Active keyboard layout";

// Whether `name` is exactly kActiveLayoutName.
bool IsActiveLayoutName(const char16_t* name);

// The Windows-1252 character of `byte`, or 0 when the byte is a control
// character or one of the five that Windows-1252 leaves undefined.
char16_t Windows1252Character(std::uint8_t byte);

struct KeyStroke {
    std::uint8_t virtualKey;
    std::uint8_t shift;  // 1: Shift is held
    std::uint8_t altGr;  // 1: AltGr is held (Control + left Alt)
};

enum class PlanKind : std::uint8_t {
    kNothing,    // the byte types nothing
    kKey,        // `key`
    kDeadKey,    // `dead`, then `key`
    kCharacter,  // no key types it: the character itself is sent
};

// How one byte is typed on one layout.
struct KeystrokePlan {
    PlanKind kind;
    KeyStroke dead;
    KeyStroke key;
    char16_t character;  // what the plan types (0 for kNothing)
};

struct LayoutPlans {
    platform::KeyboardLayout layout;
    KeystrokePlan plans[256];  // indexed by the received byte
};

// The layout of the thread that owns the window with the keyboard focus.
platform::KeyboardLayout ActiveKeyboardLayout();

// Every byte's plan on `layout`: the first of one key (alone, with Shift, with
// AltGr, with Shift and AltGr), a dead key and then a key, or the character
// itself. Worked out on the first request for a layout and kept for the
// next ones (a few layouts at a time, in static storage), so a line typed on a
// known layout costs no lookups and no allocation. Carriage return types
// Enter and tab types Tab on every layout.
const LayoutPlans& PlansForLayout(platform::KeyboardLayout layout);
