// Binding keysyms to key codes of our own and writing the keymap's text.
#include "platform/linux/keys/own_keymap_private.h"

#include <xkbcommon/xkbcommon.h>

#include <cstdarg>
#include <cstdio>

#include "platform/linux/keys/wayland_connection_private.h"

namespace platform::linuxkeys {
namespace {

constexpr const char* kKeyType = "QUORVELCE";

// The keymap's text as it grows; once a piece does not fit, nothing more is
// added and the whole is refused.
struct KeymapText {
    char* text;
    std::size_t capacity;
    std::size_t used = 0;
    bool fits = true;
};

__attribute__((format(printf, 2, 3))) void Add(KeymapText& out, const char* format, ...) {
    if (!out.fits) return;
    std::va_list values;
    va_start(values, format);
    const int n = std::vsnprintf(out.text + out.used, out.capacity - out.used, format, values);
    va_end(values);
    if (n < 0 || static_cast<std::size_t>(n) >= out.capacity - out.used) {
        out.fits = false;
        return;
    }
    out.used += static_cast<std::size_t>(n);
}

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

std::size_t OwnKeymap::Write(char* text, std::size_t capacity) const {
    KeymapText out{text, capacity};
    Add(out, "xkb_keymap {\nxkb_keycodes \"%s\" {\nminimum = 8;\nmaximum = 255;\n", kOwnKeymapName);
    for (int code = kFirstCode; code < 256; ++code)
        if (keysyms_[code] != 0) Add(out, "<K%d> = %d;\n", code, code);
    // The standard types and actions: a compositor reads the keymap with
    // its own include path, as it reads its keyboards'.
    // A key type of our own that takes Shift and Caps Lock and stays on its
    // one level: a client whose state has them (another keyboard's) then
    // neither picks another level nor changes the character's case.
    Add(out, "};\nxkb_types \"%s\" {\ninclude \"complete\"\n", kOwnKeymapName);
    Add(out,
        "type \"%s\" { modifiers = Shift+Lock; map[Shift] = Level1; map[Lock] = Level1; "
        "map[Shift+Lock] = Level1; level_name[Level1] = \"Any\"; };\n};\n",
        kKeyType);
    Add(out, "xkb_compatibility \"%s\" { include \"complete\" };\n", kOwnKeymapName);
    // The group's name is what survives the compositor's rewriting of the
    // keymap, when ours comes back to us through wl_keyboard.
    Add(out, "xkb_symbols \"%s\" {\nname[Group1] = \"%s\";\n", kOwnKeymapName, kOwnKeymapName);
    for (int code = kFirstCode; code < 256; ++code) {
        if (keysyms_[code] == 0) continue;
        char name[64];
        if (xkb_keysym_get_name(keysyms_[code], name, sizeof name) < 0) continue;
        Add(out, "key <K%d> { type = \"%s\", [ %s ] };\n", code, kKeyType, name);
    }
    Add(out, "};\n};\n");
    if (!out.fits) return 0;
    return out.used + 1;
}

}  // namespace platform::linuxkeys
