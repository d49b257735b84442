// The uinput output without the kernel: the evdev events keystrokes produce on
// layouts compiled from names, captured through the event sink, and read back
// through an xkbcommon state as a desktop would read them.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <stdlib.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "keystroke_lists.h"
#include "platform/linux/key_output.h"

using namespace platform::linuxkeys;

namespace {

constexpr std::uint8_t kVkShift = 0x10, kVkControl = 0x11, kVkLeftMenu = 0xA4;
constexpr std::uint8_t kVkA = 'A', kVkQ = 'Q', kVkY = 'Y', kVkZ = 'Z', kVk0 = '0', kVk3 = '3';
constexpr std::uint8_t kVkOemComma = 0xBC, kVkOemMinus = 0xBD, kVkOem4 = 0xDB;

using KeyEvents = std::vector<std::pair<int, int>>;  // evdev code, 1 down / 0 up

class CaptureSink : public EventSink {
  public:
    void Emit(std::uint16_t type, std::uint16_t code, std::int32_t value) override {
        raw.push_back({type, code, value});
    }
    // The key events, each checked to be reported at once.
    KeyEvents Take() {
        KeyEvents keys;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i].type != EV_KEY) continue;
            keys.push_back({raw[i].code, raw[i].value});
            EXPECT_TRUE(i + 1 < raw.size() && raw[i + 1].type == EV_SYN &&
                        raw[i + 1].code == SYN_REPORT)
                << "key " << raw[i].code << " not followed by its report";
        }
        raw.clear();
        return keys;
    }

    struct Raw {
        std::uint16_t type, code;
        std::int32_t value;
    };
    std::vector<Raw> raw;
};

KeyboardNames Names(const char* layout) {
    KeyboardNames names;
    std::snprintf(names.layout, sizeof names.layout, "%s", layout);
    return names;
}

class UinputKeystrokes : public ::testing::Test {
  protected:
    void Open(const char* layout) { ASSERT_EQ(output.OpenUinput(&sink, Names(layout)), nullptr); }
    void Send(std::uint8_t vk, bool down) { output.KeyEvent(vk, down); }
    void Type(std::uint8_t vk, bool shift, bool altGr) {
        keystroke_lists::TypeAsLine({0, vk, shift, altGr},
                                    [&](std::uint8_t k, bool d) { Send(k, d); });
    }

    CaptureSink sink;
    KeyOutput output;
};

// Letters by the keysym they type, digits on the top row, punctuation by the
// table's hint, AltGr as the right Alt key (ISO_Level3_Shift) with Control and
// Alt never pressed, and every modifier released in the order a keystroke and
// its line end ask.
TEST_F(UinputKeystrokes, FrenchKeystrokesPressTheKeysThatTypeThem) {
    Open("fr");
    auto hints = keystroke_lists::HintsOf(keystroke_lists::Read("french-azerty.txt"));
    output.SetHints(hints.data(), hints.size());

    // "a", then "Z" with Shift left held, "@" (AltGr + the 0 key), and ","
    // with AltGr left held; as one line: modifiers stay as the next
    // keystroke finds them.
    auto keystroke = [&](std::uint8_t vk, bool shift, bool altGr) {
        Send(kVkControl, altGr);
        Send(kVkLeftMenu, altGr);
        Send(kVkShift, shift);
        Send(vk, true);
        Send(vk, false);
        if (!shift) Send(kVkShift, false);
    };
    keystroke(kVkA, false, false);
    keystroke(kVkZ, true, false);
    keystroke(kVk0, false, true);
    keystroke(kVkOemComma, false, false);
    keystroke(kVk3, false, true);  // '#'
    Send(kVkLeftMenu, false);
    Send(kVkControl, false);
    EXPECT_EQ(sink.Take(), (KeyEvents{{KEY_Q, 1},
                                      {KEY_Q, 0},
                                      {KEY_LEFTSHIFT, 1},
                                      {KEY_W, 1},
                                      {KEY_W, 0},
                                      {KEY_LEFTSHIFT, 0},
                                      {KEY_RIGHTALT, 1},
                                      {KEY_0, 1},
                                      {KEY_0, 0},
                                      {KEY_RIGHTALT, 0},
                                      {KEY_M, 1},
                                      {KEY_M, 0},
                                      {KEY_RIGHTALT, 1},
                                      {KEY_3, 1},
                                      {KEY_3, 0},
                                      {KEY_RIGHTALT, 0}}));

    // An OEM key the table says nothing about keeps its US position.
    Type(kVkOemMinus, true, false);
    EXPECT_EQ(sink.Take(),
              (KeyEvents{{KEY_LEFTSHIFT, 1}, {KEY_MINUS, 1}, {KEY_MINUS, 0}, {KEY_LEFTSHIFT, 0}}));
}

TEST_F(UinputKeystrokes, GermanLettersAltGrAndHintedPunctuation) {
    Open("de");
    Type(kVkY, false, false);
    Type(kVkZ, false, false);
    Type(kVkQ, false, true);      // '@'
    Type(kVkOem4, false, false);  // no hint yet: the US '[' key, which is 'ü' here
    EXPECT_EQ(sink.Take(), (KeyEvents{{KEY_Z, 1},
                                      {KEY_Z, 0},
                                      {KEY_Y, 1},
                                      {KEY_Y, 0},
                                      {KEY_RIGHTALT, 1},
                                      {KEY_Q, 1},
                                      {KEY_Q, 0},
                                      {KEY_RIGHTALT, 0},
                                      {KEY_LEFTBRACE, 1},
                                      {KEY_LEFTBRACE, 0}}));
    // The German table types 'ß' with VK_OEM_4: on X's de that is the key
    // right of 0; its AltGr level ('\') has no key of its own and follows.
    const KeyHint hints[] = {{kVkOem4, false, false, U'ß'}, {kVkOem4, false, true, U'\\'}};
    output.SetHints(hints, 2);
    Type(kVkOem4, false, false);
    Type(kVkOem4, false, true);
    EXPECT_EQ(sink.Take(), (KeyEvents{{KEY_MINUS, 1},
                                      {KEY_MINUS, 0},
                                      {KEY_RIGHTALT, 1},
                                      {KEY_MINUS, 1},
                                      {KEY_MINUS, 0},
                                      {KEY_RIGHTALT, 0}}));
}

// A quit in the middle of a keystroke lets go of what is down, last pressed
// first; Control alone (not AltGr) is a real Control key.
TEST_F(UinputKeystrokes, ReleaseAllAndPlainControl) {
    Open("fr");
    Send(kVkControl, true);
    Send(kVkLeftMenu, true);
    Send(kVkShift, true);
    Send(kVk0, true);
    output.ReleaseAll();
    Send(kVk0, false);  // already let go: nothing more
    EXPECT_EQ(sink.Take(), (KeyEvents{{KEY_LEFTSHIFT, 1},
                                      {KEY_RIGHTALT, 1},
                                      {KEY_0, 1},
                                      {KEY_0, 0},
                                      {KEY_RIGHTALT, 0},
                                      {KEY_LEFTSHIFT, 0}}));

    Send(kVkControl, true);
    Send('C', true);
    Send('C', false);
    Send(kVkControl, false);
    EXPECT_EQ(sink.Take(),
              (KeyEvents{{KEY_LEFTCTRL, 1}, {KEY_C, 1}, {KEY_C, 0}, {KEY_LEFTCTRL, 0}}));
}

// Every character of each shipped layout list, typed as the program types
// it on the X layout of the same name, read back by a desktop's xkbcommon
// state. X's gb puts other characters than Windows' UK layout on a few AltGr
// keys; those, and only those, differ.
TEST(UinputLayouts, EveryListedCharacterTypesOnItsLayout) {
    struct Case {
        const char* list;
        const char* layout;
        std::u32string expectedDifferences;
    };
    const Case cases[] = {{"us-english.txt", "us", U""},
                          {"uk-english.txt", "gb", U"¦áéíóú"},
                          {"french-azerty.txt", "fr", U""},
                          {"german-qwertz.txt", "de", U""}};
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    ASSERT_NE(context, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.layout);
        const auto entries = keystroke_lists::Read(c.list);
        const auto hints = keystroke_lists::HintsOf(entries);
        CaptureSink sink;
        KeyOutput output;
        ASSERT_EQ(output.OpenUinput(&sink, Names(c.layout)), nullptr);
        output.SetHints(hints.data(), hints.size());

        const xkb_rule_names rules{nullptr, nullptr, c.layout, nullptr, nullptr};
        xkb_keymap* keymap =
            xkb_keymap_new_from_names(context, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS);
        ASSERT_NE(keymap, nullptr);
        xkb_state* desktop = xkb_state_new(keymap);

        std::u32string differences;
        std::string report;
        for (const auto& entry : entries) {
            keystroke_lists::TypeAsLine(entry,
                                        [&](std::uint8_t vk, bool d) { output.KeyEvent(vk, d); });
            std::u32string typed;
            int down = 0;
            for (auto [code, value] : sink.Take()) {
                const xkb_keycode_t key = static_cast<xkb_keycode_t>(code + kEvdevOffset);
                if (value == 1) {
                    char32_t ch = xkb_state_key_get_utf32(desktop, key);
                    if (ch != 0) typed += ch;
                }
                xkb_state_update_key(desktop, key, value == 1 ? XKB_KEY_DOWN : XKB_KEY_UP);
                down += value == 1 ? 1 : -1;
            }
            EXPECT_EQ(down, 0) << "keys left down after " << keystroke_lists::Utf8(entry.character);
            if (typed != std::u32string(1, entry.character)) {
                differences += entry.character;
                report += keystroke_lists::Utf8(entry.character) + " -> ";
                for (char32_t t : typed) report += keystroke_lists::Utf8(t);
                report += "  ";
            }
        }
        std::printf("%s on %s: %zu characters, %zu differ %s\n", c.list, c.layout, entries.size(),
                    differences.size(), report.c_str());
        EXPECT_EQ(differences, c.expectedDifferences) << report;
        xkb_state_unref(desktop);
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
}

// The layout a displayless session types on: the environment first, then the
// system's keyboard configuration file.
TEST(UinputLayouts, KeyboardNamesFromEnvironmentOrSystemFile) {
    char path[] = "/tmp/quorvel-keyboard-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const char text[] =
        "# KEYBOARD CONFIGURATION FILE\nXKBMODEL=\"pc105\"\nXKBLAYOUT=\"de\"\n"
        "XKBVARIANT='nodeadkeys'\nXKBOPTIONS=\"\"\nBACKSPACE=\"guess\"\n";
    ASSERT_EQ(write(fd, text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
    close(fd);

    unsetenv("XKB_DEFAULT_LAYOUT");
    KeyboardNames names = ReadKeyboardNames(path);
    EXPECT_STREQ(names.layout, "de");
    EXPECT_STREQ(names.variant, "nodeadkeys");
    EXPECT_STREQ(names.model, "pc105");
    EXPECT_STREQ(names.options, "");

    setenv("XKB_DEFAULT_LAYOUT", "fr", 1);
    setenv("XKB_DEFAULT_VARIANT", "oss", 1);
    names = ReadKeyboardNames(path);
    EXPECT_STREQ(names.layout, "fr");
    EXPECT_STREQ(names.variant, "oss");
    unsetenv("XKB_DEFAULT_LAYOUT");
    unsetenv("XKB_DEFAULT_VARIANT");

    EXPECT_STREQ(ReadKeyboardNames("/nonexistent/keyboard").layout, "us");
    unlink(path);
}

}  // namespace
