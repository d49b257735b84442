// The virtual keyboard's own keymap without a compositor: what it writes is
// read back through xkbcommon, as the compositor and its clients read it.
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <set>
#include <vector>

#include "platform/linux/keys/own_keymap_private.h"

using namespace platform::linuxkeys;

namespace {

// What the written keymap types at each code, with no modifier at all and
// with Caps Lock locked.
std::vector<std::pair<KeyCode, std::uint32_t>> Read(OwnKeymap& own, bool capsLock) {
    static char text[32768];
    const std::size_t size = own.Write(text, sizeof text);
    EXPECT_NE(size, 0u);
    own.Sent();
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* keymap = xkb_keymap_new_from_string(context, text, XKB_KEYMAP_FORMAT_TEXT_V1,
                                                    XKB_KEYMAP_COMPILE_NO_FLAGS);
    EXPECT_NE(keymap, nullptr) << text;
    std::vector<std::pair<KeyCode, std::uint32_t>> typed;
    if (keymap != nullptr) {
        xkb_state* state = xkb_state_new(keymap);
        if (capsLock) {
            const xkb_mod_index_t lock = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CAPS);
            xkb_state_update_mask(state, 0, 0, 1u << lock, 0, 0, 0);
        }
        for (int code = 8; code < 256; ++code) {
            const xkb_keysym_t sym = xkb_state_key_get_one_sym(state, code);
            if (sym != XKB_KEY_NoSymbol) typed.push_back({static_cast<KeyCode>(code), sym});
        }
        xkb_state_unref(state);
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
    return typed;
}

// Lines that need more keysyms together than there are codes: each line's
// keysyms all have codes of their own while it is typed (older lines give
// theirs up), every code types its keysym and nothing else, whatever Caps
// Lock says, and the text is only rewritten when a binding changed.
TEST(OwnKeymap, EachLineBindsItsKeysymsAndTheTextTypesThem) {
    OwnKeymap own;
    std::set<std::uint32_t> everBound;
    for (int line = 0; line < 8; ++line) {
        own.BeginLine();
        std::vector<std::pair<KeyCode, std::uint32_t>> bound;
        // 100 characters a line (the longest the program types), 60 new each.
        for (int i = 0; i < 100; ++i) {
            const char32_t character = 0x100 + static_cast<char32_t>(line * 60 + i);
            const std::uint32_t keysym = KeysymOf(character);
            const KeyCode code = own.Bind(keysym);
            ASSERT_NE(code, kNoKey) << "line " << line << " character " << i;
            EXPECT_GE(code, 9);
            bound.push_back({code, keysym});
            everBound.insert(keysym);
        }
        const auto typed = Read(own, line % 2 == 1);
        for (auto [code, keysym] : bound) {
            bool found = false;
            for (auto [typedCode, typedKeysym] : typed)
                if (typedCode == code) found = typedKeysym == keysym;
            EXPECT_TRUE(found) << "line " << line << " code " << int(code);
        }
        EXPECT_FALSE(own.Changed());
        // The same characters again: no new binding, nothing to upload.
        for (auto [code, keysym] : bound) EXPECT_EQ(own.Bind(keysym), code);
        EXPECT_FALSE(own.Changed());
    }
    EXPECT_GT(everBound.size(), 247u);  // more than the codes there are
    // Every code bound to the longest names still fits.
    OwnKeymap full;
    for (char32_t c = 0x10000; c < 0x10000 + 247; ++c) EXPECT_NE(full.Bind(KeysymOf(c)), kNoKey);
    EXPECT_EQ(full.Bind(KeysymOf(0x20000)), kNoKey);
    EXPECT_EQ(Read(full, true).size(), 247u);

    EXPECT_EQ(KeysymOf(U'a'), static_cast<std::uint32_t>('a'));
    EXPECT_EQ(KeysymOf(U'\u00e9'), 0xE9u);
    EXPECT_EQ(KeysymOf(U'\u2030'), 0x01002030u);
    EXPECT_EQ(KeysymOf(U'\r'), 0u);
    EXPECT_EQ(own.Bind(0), kNoKey);
}

}  // namespace
