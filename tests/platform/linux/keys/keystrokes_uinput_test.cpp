// The uinput output without the kernel: the evdev events keystrokes produce on
// layouts compiled from names, captured through the event sink, and read back
// through an xkbcommon state as a desktop would read them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>
#include <linux/input.h>
#include <stdlib.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "keystroke_lists.h"
#include "platform/linux/keys/key_output_private.h"

using namespace platform::linuxkeys;
using platform::kVkControl;
using platform::kVkLMenu;
using platform::kVkShift;

namespace {

// Key events as "KEY_Q+ KEY_Q-", each checked to be reported at once.
class CaptureSink : public EventSink {
  public:
    int Emit(std::uint16_t type, std::uint16_t code, std::int32_t value) override {
        if (failWith != 0) return failWith;
        if (type == EV_SYN) {
            unreported = false;
            return 0;
        }
        EXPECT_FALSE(unreported) << "an event without its report";
        keys.push_back({code, value});
        unreported = true;
        return 0;
    }
    std::string Take() {
        std::string text;
        for (auto [code, value] : keys) {
            text += std::string(text.empty() ? "" : " ") +
                    libevdev_event_code_get_name(EV_KEY, code) + (value != 0 ? "+" : "-");
        }
        keys.clear();
        return text;
    }
    std::vector<std::pair<std::uint16_t, std::int32_t>> keys;
    bool unreported = false;
    int failWith = 0;  // a negative errno: every write fails with it
};

KeyboardNames Names(const char* layout) {
    KeyboardNames names;
    std::snprintf(names.layout, sizeof names.layout, "%s", layout);
    return names;
}

// Letters by the keysym they type, digits on the top row, punctuation by the
// table's hint (else its US position), AltGr as the right Alt key with
// Control and Alt never pressed, Control alone as itself, and releases that
// follow the program's modifier changes or a quit in mid-keystroke.
TEST(UinputKeystrokes, KeysAndModifiersOnFrenchAndGerman) {
    CaptureSink sink;
    KeyOutput output;
    auto send = [&](std::uint8_t vk, bool down) { output.KeyEvent(vk, down); };
    // One keystroke as the reception thread sends it; modifiers stay as the
    // next keystroke finds them.
    auto keystroke = [&](std::uint8_t vk, bool shift, bool altGr) {
        send(kVkControl, altGr);
        send(kVkLMenu, altGr);
        send(kVkShift, shift);
        send(vk, true);
        send(vk, false);
        if (!shift) send(kVkShift, false);
    };

    ASSERT_EQ(output.OpenUinput(&sink, Names("fr")), nullptr);
    auto hints = keystroke_lists::HintsOf(keystroke_lists::Read("french-azerty.txt"));
    output.SetHints(hints.data(), hints.size());
    keystroke('A', false, false);
    keystroke('Z', true, false);
    keystroke('0', false, true);    // '@'
    keystroke(0xBC, false, false);  // VK_OEM_COMMA ','
    keystroke('3', false, true);    // '#', the line's last
    send(kVkLMenu, false);
    send(kVkControl, false);
    keystroke(0xBD, true, false);  // VK_OEM_MINUS: no hint, US position
    EXPECT_EQ(sink.Take(),
              "KEY_Q+ KEY_Q- KEY_LEFTSHIFT+ KEY_W+ KEY_W- KEY_LEFTSHIFT- KEY_RIGHTALT+ KEY_0+ "
              "KEY_0- KEY_RIGHTALT- KEY_M+ KEY_M- KEY_RIGHTALT+ KEY_3+ KEY_3- KEY_RIGHTALT- "
              "KEY_LEFTSHIFT+ KEY_MINUS+ KEY_MINUS-");

    send(kVkShift, false);
    send(kVkControl, true);
    send(kVkLMenu, true);
    send(kVkShift, true);
    send('0', true);
    output.ReleaseAll();
    send('0', false);
    send(kVkControl, true);
    send('C', true);
    send('C', false);
    send(kVkControl, false);
    EXPECT_EQ(sink.Take(),
              "KEY_LEFTSHIFT- KEY_LEFTSHIFT+ KEY_RIGHTALT+ KEY_0+ KEY_0- KEY_RIGHTALT- "
              "KEY_LEFTSHIFT- KEY_LEFTCTRL+ KEY_C+ KEY_C- KEY_LEFTCTRL-");

    // German: Y and Z swap places; 'ß' is what the table's VK_OEM_4 types,
    // the key right of 0 here, and its AltGr level ('\\') follows that key.
    ASSERT_EQ(output.OpenUinput(&sink, Names("de")), nullptr);
    output.SetHints(nullptr, 0);
    keystroke('Y', false, false);
    keystroke('Q', false, true);
    keystroke(0xDB, false, false);
    const KeyHint german[] = {{0xDB, false, false, U'ß'}, {0xDB, false, true, U'\\'}};
    output.SetHints(german, 2);
    keystroke(0xDB, false, false);
    keystroke(0xDB, false, true);
    send(kVkLMenu, false);
    EXPECT_EQ(sink.Take(),
              "KEY_Z+ KEY_Z- KEY_RIGHTALT+ KEY_Q+ KEY_Q- KEY_RIGHTALT- KEY_LEFTBRACE+ "
              "KEY_LEFTBRACE- KEY_MINUS+ KEY_MINUS- KEY_RIGHTALT+ KEY_MINUS+ KEY_MINUS- "
              "KEY_RIGHTALT-");
}

// Every character of each shipped layout list, typed as the program types it
// on the X layout of the same name and read by a desktop's xkbcommon state.
// X's gb puts other characters than Windows' UK layout on a few AltGr keys;
// those, and only those, differ.
TEST(UinputKeystrokes, EveryListedCharacterTypesOnItsLayout) {
    struct Case {
        const char *list, *layout;
        std::u32string expectedDifferences;
    } const cases[] = {{"us-english.txt", "us", U""},
                       {"uk-english.txt", "gb", U"¦áéíóú"},
                       {"french-azerty.txt", "fr", U""},
                       {"german-qwertz.txt", "de", U""}};
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
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
        xkb_state* desktop = xkb_state_new(keymap);

        auto arrived = [&] {
            std::u32string typed;
            int down = 0;
            for (auto [code, value] : sink.keys) {
                const xkb_keycode_t key = code + kEvdevOffset;
                if (value != 0 && xkb_state_key_get_utf32(desktop, key) != 0) {
                    typed += xkb_state_key_get_utf32(desktop, key);
                }
                xkb_state_update_key(desktop, key, value != 0 ? XKB_KEY_DOWN : XKB_KEY_UP);
                down += value != 0 ? 1 : -1;
            }
            sink.keys.clear();
            EXPECT_EQ(down, 0) << "keys left down";
            return typed;
        };
        auto result = keystroke_lists::TypeEach(
            entries, [&](std::uint8_t vk, bool d) { output.KeyEvent(vk, d); }, arrived);
        std::printf("%s on %s: %zu characters, %zu differ %s\n", c.list, c.layout, entries.size(),
                    result.differences.size(), result.report.c_str());
        EXPECT_EQ(result.differences, c.expectedDifferences) << result.report;
        xkb_state_unref(desktop);
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
}

// The layout a displayless session types on: the environment first, then the
// system's keyboard configuration file, then us.
// The layout questions under uinput, answered from the configured layout:
// a layout of its own identity, a key found by its character, a dead key
// that waits and composes with the next key, and a character no key types
// left out without a key event.
TEST(UinputKeystrokes, LayoutQuestionsAndCharactersLeftOut) {
    CaptureSink sink;
    KeyOutput output;
    ASSERT_EQ(output.OpenUinput(&sink, Names("de")), nullptr);
    const std::uintptr_t german = output.LayoutIdentity();
    EXPECT_STREQ(output.LayoutName(), "de");
    EXPECT_EQ(output.KeyScan(u'z'), 'Z');          // QWERTZ: the key of z is VK_Z
    EXPECT_EQ(output.KeyScan(u'@'), 0x600 | 'Q');  // AltGr+Q
    EXPECT_EQ(output.KeyScan(u'☃'), -1);

    ASSERT_EQ(output.OpenUinput(&sink, Names("fr")), nullptr);
    EXPECT_NE(output.LayoutIdentity(), german);
    std::uint8_t state[256] = {};
    char16_t typed[4] = {};
    // The dead circumflex (the key right of P, VK_OEM_4 at its US place),
    // then e: ê; the same dead key twice gives up both accents.
    EXPECT_EQ(output.ToUnicode(0xDB, state, typed, 4), -1);
    EXPECT_EQ(typed[0], u'^');
    EXPECT_EQ(output.ToUnicode('E', state, typed, 4), 1);
    EXPECT_EQ(typed[0], u'ê');
    EXPECT_EQ(output.ToUnicode(0xDB, state, typed, 4), -1);
    EXPECT_GE(output.ToUnicode(0xDB, state, typed, 4), 1);
    state[kVkShift] = 0x80;
    EXPECT_EQ(output.ToUnicode('1', state, typed, 4), 1);  // AZERTY: digits with Shift
    EXPECT_EQ(typed[0], u'1');

    EXPECT_FALSE(output.CharacterEvent(U'☃', true));
    EXPECT_EQ(sink.Take(), "");

    // A write the device refuses is told, once, and with its reason.
    EXPECT_EQ(output.WriteFailure(), nullptr);
    sink.failWith = -ENODEV;
    output.KeyEvent('A', true);
    const char16_t* lost = output.WriteFailure();
    ASSERT_NE(lost, nullptr);
    EXPECT_NE(std::u16string(lost).find(u"No such device"), std::u16string::npos);
    EXPECT_EQ(output.WriteFailure(), nullptr);
}

// Caps Lock as the desktop sets the device's LED, from events as the kernel
// hands them over (a pipe stands for the device): off until told, then each
// change as it comes, the last of several read at once; a desktop that never
// sets it is said once, from the second line on (the first may come before
// the desktop has opened the device).
TEST(UinputKeystrokes, CapsLockFromTheLedTheDesktopSets) {
    struct LedSink : CaptureSink {
        int LedFd() const override { return fds[0]; }
        int fds[2] = {-1, -1};
    } sink;
    ASSERT_EQ(pipe2(sink.fds, O_NONBLOCK), 0);
    auto led = [&](std::initializer_list<std::pair<std::uint16_t, std::int32_t>> events) {
        for (auto [code, value] : events) {
            input_event e{};
            e.type = code == SYN_REPORT ? EV_SYN : EV_LED;
            e.code = code;
            e.value = value;
            ASSERT_EQ(write(sink.fds[1], &e, sizeof e), static_cast<ssize_t>(sizeof e));
        }
    };
    KeyOutput output;
    ASSERT_EQ(output.OpenUinput(&sink, Names("us")), nullptr);
    EXPECT_FALSE(output.CapsLockOn());
    EXPECT_EQ(output.CapsLockUnknown(), nullptr);
    EXPECT_FALSE(output.CapsLockOn());
    const char16_t* unknown = output.CapsLockUnknown();
    ASSERT_NE(unknown, nullptr);
    EXPECT_NE(std::u16string(unknown).find(u"verrouillage des majuscules"), std::u16string::npos);
    EXPECT_FALSE(output.CapsLockOn());
    EXPECT_EQ(output.CapsLockUnknown(), nullptr);

    ASSERT_EQ(output.OpenUinput(&sink, Names("us")), nullptr);
    led({{LED_NUML, 1}, {LED_CAPSL, 1}, {SYN_REPORT, 0}});
    EXPECT_TRUE(output.CapsLockOn());
    EXPECT_TRUE(output.CapsLockOn());
    EXPECT_EQ(output.CapsLockUnknown(), nullptr);
    led({{LED_CAPSL, 0},
         {SYN_REPORT, 0},
         {LED_CAPSL, 1},
         {SYN_REPORT, 0},
         {LED_CAPSL, 0},
         {SYN_REPORT, 0}});
    EXPECT_FALSE(output.CapsLockOn());
    led({{LED_NUML, 0}, {SYN_REPORT, 0}});
    EXPECT_FALSE(output.CapsLockOn());
    led({{LED_CAPSL, 1}, {SYN_REPORT, 0}});
    EXPECT_TRUE(output.CapsLockOn());
    output.Close();
    close(sink.fds[0]);
    close(sink.fds[1]);
}

TEST(UinputKeystrokes, KeyboardNamesFromEnvironmentOrSystemFile) {
    char path[] = "/tmp/quorvel-keyboard-XXXXXX";
    FILE* file = fdopen(mkstemp(path), "w");
    ASSERT_NE(file, nullptr);
    std::fputs(
        "# KEYBOARD CONFIGURATION FILE\nXKBMODEL=\"pc105\"\nXKBLAYOUT=\"de\"\n"
        "XKBVARIANT='nodeadkeys'\nXKBOPTIONS=\"\"\n",
        file);
    std::fclose(file);
    unsetenv("XKB_DEFAULT_LAYOUT");
    KeyboardNames names = ReadKeyboardNames(path);
    EXPECT_EQ(
        std::string(names.layout) + "/" + names.variant + "/" + names.model + "/" + names.options,
        "de/nodeadkeys/pc105/");
    setenv("XKB_DEFAULT_LAYOUT", "fr", 1);
    EXPECT_STREQ(ReadKeyboardNames(path).layout, "fr");
    unsetenv("XKB_DEFAULT_LAYOUT");
    EXPECT_STREQ(ReadKeyboardNames("/nonexistent/keyboard").layout, "us");
    std::remove(path);
}

}  // namespace
