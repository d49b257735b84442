// The names of Windows virtual keys, as <windows.h> spells them, and a table
// entry described with them.
#include "tools/key_names.h"

#include <cstdio>

namespace {

struct NamedKey {
    std::uint16_t code;
    const char* name;
};

// clang-format off
constexpr NamedKey kKeyNames[] = {
    {0x01, "VK_LBUTTON"}, {0x02, "VK_RBUTTON"}, {0x03, "VK_CANCEL"}, {0x04, "VK_MBUTTON"},
    {0x05, "VK_XBUTTON1"}, {0x06, "VK_XBUTTON2"}, {0x08, "VK_BACK"}, {0x09, "VK_TAB"},
    {0x0C, "VK_CLEAR"}, {0x0D, "VK_RETURN"}, {0x10, "VK_SHIFT"}, {0x11, "VK_CONTROL"},
    {0x12, "VK_MENU"}, {0x13, "VK_PAUSE"}, {0x14, "VK_CAPITAL"}, {0x15, "VK_KANA"},
    {0x17, "VK_JUNJA"}, {0x18, "VK_FINAL"}, {0x19, "VK_KANJI"}, {0x1B, "VK_ESCAPE"},
    {0x1C, "VK_CONVERT"}, {0x1D, "VK_NONCONVERT"}, {0x1E, "VK_ACCEPT"}, {0x1F, "VK_MODECHANGE"},
    {0x20, "VK_SPACE"}, {0x21, "VK_PRIOR"}, {0x22, "VK_NEXT"}, {0x23, "VK_END"},
    {0x24, "VK_HOME"}, {0x25, "VK_LEFT"}, {0x26, "VK_UP"}, {0x27, "VK_RIGHT"},
    {0x28, "VK_DOWN"}, {0x29, "VK_SELECT"}, {0x2A, "VK_PRINT"}, {0x2B, "VK_EXECUTE"},
    {0x2C, "VK_SNAPSHOT"}, {0x2D, "VK_INSERT"}, {0x2E, "VK_DELETE"}, {0x2F, "VK_HELP"},
    {0x5B, "VK_LWIN"}, {0x5C, "VK_RWIN"}, {0x5D, "VK_APPS"}, {0x5F, "VK_SLEEP"},
    {0x6A, "VK_MULTIPLY"}, {0x6B, "VK_ADD"}, {0x6C, "VK_SEPARATOR"}, {0x6D, "VK_SUBTRACT"},
    {0x6E, "VK_DECIMAL"}, {0x6F, "VK_DIVIDE"}, {0x90, "VK_NUMLOCK"}, {0x91, "VK_SCROLL"},
    {0xA0, "VK_LSHIFT"}, {0xA1, "VK_RSHIFT"}, {0xA2, "VK_LCONTROL"}, {0xA3, "VK_RCONTROL"},
    {0xA4, "VK_LMENU"}, {0xA5, "VK_RMENU"}, {0xA6, "VK_BROWSER_BACK"},
    {0xA7, "VK_BROWSER_FORWARD"}, {0xA8, "VK_BROWSER_REFRESH"}, {0xA9, "VK_BROWSER_STOP"},
    {0xAA, "VK_BROWSER_SEARCH"}, {0xAB, "VK_BROWSER_FAVORITES"}, {0xAC, "VK_BROWSER_HOME"},
    {0xAD, "VK_VOLUME_MUTE"}, {0xAE, "VK_VOLUME_DOWN"}, {0xAF, "VK_VOLUME_UP"},
    {0xB0, "VK_MEDIA_NEXT_TRACK"}, {0xB1, "VK_MEDIA_PREV_TRACK"}, {0xB2, "VK_MEDIA_STOP"},
    {0xB3, "VK_MEDIA_PLAY_PAUSE"}, {0xB4, "VK_LAUNCH_MAIL"}, {0xB5, "VK_LAUNCH_MEDIA_SELECT"},
    {0xB6, "VK_LAUNCH_APP1"}, {0xB7, "VK_LAUNCH_APP2"}, {0xBA, "VK_OEM_1"},
    {0xBB, "VK_OEM_PLUS"}, {0xBC, "VK_OEM_COMMA"}, {0xBD, "VK_OEM_MINUS"},
    {0xBE, "VK_OEM_PERIOD"}, {0xBF, "VK_OEM_2"}, {0xC0, "VK_OEM_3"}, {0xDB, "VK_OEM_4"},
    {0xDC, "VK_OEM_5"}, {0xDD, "VK_OEM_6"}, {0xDE, "VK_OEM_7"}, {0xDF, "VK_OEM_8"},
    {0xE2, "VK_OEM_102"}, {0xE5, "VK_PROCESSKEY"}, {0xE7, "VK_PACKET"}, {0xF6, "VK_ATTN"},
    {0xF7, "VK_CRSEL"}, {0xF8, "VK_EXSEL"}, {0xF9, "VK_EREOF"}, {0xFA, "VK_PLAY"},
    {0xFB, "VK_ZOOM"}, {0xFD, "VK_PA1"}, {0xFE, "VK_OEM_CLEAR"},
};
// clang-format on

// Digits, letters, numeric pad and function keys follow a pattern rather
// than the table above.
std::string PatternKeyName(std::uint16_t code) {
    if ((code >= 0x30 && code <= 0x39) || (code >= 0x41 && code <= 0x5A)) {
        return std::string("VK_") + static_cast<char>(code);
    }
    if (code >= 0x60 && code <= 0x69) return "VK_NUMPAD" + std::to_string(code - 0x60);
    if (code >= 0x70 && code <= 0x87) return "VK_F" + std::to_string(code - 0x70 + 1);
    return {};
}

}  // namespace

std::string VirtualKeyName(std::uint16_t code) {
    for (const NamedKey& key : kKeyNames) {
        if (key.code == code) return key.name;
    }
    return PatternKeyName(code);
}

std::uint16_t VirtualKeyFromName(std::string_view name) {
    for (std::uint16_t code = 1; code < 0xFF; ++code) {
        if (VirtualKeyName(code) == name) return code;
    }
    return 0;
}

std::string DescribeKey(const KeyTableEntry& entry) {
    char code[16];
    std::snprintf(code, sizeof code, entry.virtualKey > 0xFF ? "0x%04X" : "0x%02X",
                  static_cast<unsigned>(entry.virtualKey));
    // Only the low byte reaches the keyboard, so a larger code types that key.
    std::string name = VirtualKeyName(static_cast<std::uint16_t>(entry.virtualKey & 0xFF));
    std::string text = name.empty() ? std::string(code) : name + " " + code;
    if (entry.shift != 0 && entry.altGr != 0) return text + " Shift+AltGr";
    if (entry.shift != 0) return text + " Shift";
    if (entry.altGr != 0) return text + " AltGr";
    return text + " plain";
}
