// Dead-key composition through libxkbcommon's compose tables.
#include "platform/linux/keys/compose_private.h"

#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <cstring>

namespace platform::linuxkeys {
namespace {

struct AccentKey {
    std::uint32_t dead;
    char32_t spacing;
    const char32_t* bases;    // what composes with it...
    const char32_t* results;  // ...and into what
};

// The Latin-1 compositions, for when no compose table loads.
const AccentKey kAccents[] = {
    {XKB_KEY_dead_grave, U'`', U"aeiouAEIOU", U"àèìòùÀÈÌÒÙ"},
    {XKB_KEY_dead_acute, U'´', U"aeiouyAEIOUY", U"áéíóúýÁÉÍÓÚÝ"},
    {XKB_KEY_dead_circumflex, U'^', U"aeiouAEIOU", U"âêîôûÂÊÎÔÛ"},
    {XKB_KEY_dead_tilde, U'~', U"anoANO", U"ãñõÃÑÕ"},
    {XKB_KEY_dead_diaeresis, U'¨', U"aeiouyAEIOU", U"äëïöüÿÄËÏÖÜ"},
    {XKB_KEY_dead_cedilla, U'¸', U"cC", U"çÇ"},
    {XKB_KEY_dead_abovering, U'°', U"aA", U"åÅ"},
    {XKB_KEY_dead_macron, U'¯', U"", U""},
    {XKB_KEY_dead_caron, U'ˇ', U"", U""},
    {XKB_KEY_dead_breve, U'˘', U"", U""},
    {XKB_KEY_dead_abovedot, U'˙', U"", U""},
    {XKB_KEY_dead_doubleacute, U'˝', U"", U""},
    {XKB_KEY_dead_ogonek, U'˛', U"", U""},
};

const AccentKey* FindAccent(std::uint32_t dead) {
    for (const AccentKey& a : kAccents)
        if (a.dead == dead) return &a;
    return nullptr;
}

bool IsUtf8Locale(const char* name) {
    return name != nullptr &&
           (std::strstr(name, "UTF-8") != nullptr || std::strstr(name, "utf8") != nullptr ||
            std::strstr(name, "utf-8") != nullptr);
}

// The one character of a UTF-8 string, or 0.
char32_t OneCharacter(const char* s) {
    const auto* u = reinterpret_cast<const unsigned char*>(s);
    char32_t c = 0;
    int more = 0;
    if (u[0] < 0x80) {
        c = u[0];
    } else if ((u[0] & 0xE0) == 0xC0) {
        c = u[0] & 0x1F;
        more = 1;
    } else if ((u[0] & 0xF0) == 0xE0) {
        c = u[0] & 0x0F;
        more = 2;
    } else if ((u[0] & 0xF8) == 0xF0) {
        c = u[0] & 0x07;
        more = 3;
    } else {
        return 0;
    }
    for (int i = 1; i <= more; ++i) {
        if ((u[i] & 0xC0) != 0x80) return 0;
        c = (c << 6) | (u[i] & 0x3F);
    }
    return u[more + 1] == 0 ? c : 0;
}

}  // namespace

bool DeadKeys::Load(xkb_context* context) {
    Unload();
    if (context == nullptr) return false;
    // The user's own locale first; a program started outside a desktop
    // session often has none, or "C", which has no compose table.
    const char* candidates[] = {std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"),
                                "C.UTF-8", "en_US.UTF-8"};
    for (const char* locale : candidates) {
        if (locale == nullptr || locale[0] == 0 || !IsUtf8Locale(locale)) continue;
        table_ = xkb_compose_table_new_from_locale(context, locale, XKB_COMPOSE_COMPILE_NO_FLAGS);
        if (table_ != nullptr) break;
    }
    if (table_ == nullptr) return false;
    state_ = xkb_compose_state_new(table_, XKB_COMPOSE_STATE_NO_FLAGS);
    if (state_ == nullptr) {
        Unload();
        return false;
    }
    return true;
}

void DeadKeys::Unload() {
    if (state_ != nullptr) xkb_compose_state_unref(state_);
    if (table_ != nullptr) xkb_compose_table_unref(table_);
    state_ = nullptr;
    table_ = nullptr;
}

char32_t DeadKeys::Compose(std::uint32_t dead, std::uint32_t keysym) {
    if (state_ != nullptr) {
        xkb_compose_state_reset(state_);
        xkb_compose_state_feed(state_, dead);
        if (xkb_compose_state_feed(state_, keysym) != XKB_COMPOSE_FEED_ACCEPTED ||
            xkb_compose_state_get_status(state_) != XKB_COMPOSE_COMPOSED)
            return 0;
        char text[16];
        const int n = xkb_compose_state_get_utf8(state_, text, sizeof text);
        xkb_compose_state_reset(state_);
        return n > 0 && n < static_cast<int>(sizeof text) ? OneCharacter(text) : 0;
    }
    const AccentKey* accent = FindAccent(dead);
    if (accent == nullptr) return 0;
    if (keysym == XKB_KEY_space) return accent->spacing;
    const char32_t base = xkb_keysym_to_utf32(keysym);
    for (int i = 0; base != 0 && accent->bases[i] != 0; ++i)
        if (accent->bases[i] == base) return accent->results[i];
    return 0;
}

bool DeadKeys::IsDeadKey(std::uint32_t keysym) {
    // dead_grave to dead_longsolidusoverlay: every dead key X names.
    return keysym >= XKB_KEY_dead_grave && keysym <= 0xfe93;
}

char32_t DeadKeys::Accent(std::uint32_t dead) {
    const AccentKey* accent = FindAccent(dead);
    return accent != nullptr ? accent->spacing : 0;
}

}  // namespace platform::linuxkeys
