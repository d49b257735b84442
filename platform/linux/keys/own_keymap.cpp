// Binding keysyms to key codes of our own and writing the keymap's text.
#include "platform/linux/keys/own_keymap_private.h"

#include <xkbcommon/xkbcommon.h>

#include <cstdio>

#include "platform/linux/keys/wayland_connection_private.h"

namespace platform::linuxkeys {
namespace {

constexpr const char* kKeyType = "QUORVELCE";

}  // namespace

std::uint32_t KeysymOf(char32_t character) {
    if (character < 0x20 || (character >= 0x7F && character < 0xA0)) return 0;
    return character < 0x100 ? character : 0x01000000u | character;
}

KeyCode OwnKeymap::Bind(std::uint32_t keysym) {
    if (keysym == 0) return kNoKey;
    int oldest = 0;
    for (int code = kFirstCode; code < 256; ++code) {
        if (keysyms_[code] == keysym) {
            lineOf_[code] = line_;
            return static_cast<KeyCode>(code);
        }
        // A free code first, else the one whose line is longest past.
        if (oldest == 0 || lineOf_[code] < lineOf_[oldest]) oldest = code;
    }
    if (lineOf_[oldest] == line_) return kNoKey;
    keysyms_[oldest] = keysym;
    lineOf_[oldest] = line_;
    changed_ = true;
    return static_cast<KeyCode>(oldest);
}

void OwnKeymap::Clear() {
    for (auto& keysym : keysyms_) keysym = 0;
    for (auto& line : lineOf_) line = 0;
    line_ = 1;
    changed_ = false;
}

std::size_t OwnKeymap::Write(char* text, std::size_t capacity) {
    std::size_t used = 0;
    bool fits = true;
    auto add = [&](const char* format, auto... values) {
        if (!fits) return;
        const int n = std::snprintf(text + used, capacity - used, format, values...);
        if (n < 0 || static_cast<std::size_t>(n) >= capacity - used) {
            fits = false;
            return;
        }
        used += static_cast<std::size_t>(n);
    };
    add("xkb_keymap {\nxkb_keycodes \"%s\" {\nminimum = 8;\nmaximum = 255;\n", kOwnKeymapName);
    for (int code = kFirstCode; code < 256; ++code)
        if (keysyms_[code] != 0) add("<K%d> = %d;\n", code, code);
    // The standard types and actions: a compositor reads the keymap with
    // its own include path, as it reads its keyboards'.
    // A key type of our own that takes Shift and Caps Lock and stays on its
    // one level: a client whose state has them (another keyboard's) then
    // neither picks another level nor changes the character's case.
    add("};\nxkb_types \"%s\" {\ninclude \"complete\"\n", kOwnKeymapName);
    add("type \"%s\" { modifiers = Shift+Lock; map[Shift] = Level1; map[Lock] = Level1; "
        "map[Shift+Lock] = Level1; level_name[Level1] = \"Any\"; };\n};\n",
        kKeyType);
    add("xkb_compatibility \"%s\" { include \"complete\" };\n", kOwnKeymapName);
    // The group's name is what survives the compositor's rewriting of the
    // keymap, when ours comes back to us through wl_keyboard.
    add("xkb_symbols \"%s\" {\nname[Group1] = \"%s\";\n", kOwnKeymapName, kOwnKeymapName);
    for (int code = kFirstCode; code < 256; ++code) {
        if (keysyms_[code] == 0) continue;
        char name[64];
        if (xkb_keysym_get_name(keysyms_[code], name, sizeof name) < 0) continue;
        add("key <K%d> { type = \"%s\", [ %s ] };\n", code, kKeyType, name);
    }
    add("};\n};\n");
    if (!fits) return 0;
    changed_ = false;
    return used + 1;
}

}  // namespace platform::linuxkeys
