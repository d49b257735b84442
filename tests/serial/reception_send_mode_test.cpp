// SEND_MODE on the simulated platform: a table line and an active-layout line
// with Shift, AltGr and dead keys, typed with Caps Lock on, in each way of
// sending. The focused application reads keys named by scan code through the
// layout's scan codes alone, so a wrong code shows in its text.
#include "keymap/active_layout.h"
#include "keymap/key_table.h"
#include "platform/sim/layout.h"
#include "platform/text.h"
#include "tests/serial/reception_fixture.h"

using namespace platform;
using namespace testing_support;

namespace {

class SendModeTest : public ReceptionTest {
  protected:
    // German layout: "@" is AltGr and Q; "â" the dead ^ and A; "é" the dead
    // ´ and E.
    void TypeBothLines(SendMode mode) {
        SerialSettings.sendMode = static_cast<std::uint16_t>(mode);
        KeyTable['@'] = {0, 1, 'Q'};
        sim::SetKeyboardLayout("de");
        sim::SetCapsLock(true);
        Start();
        WaitReady();
        Feed("A@b\r");
        WaitIdle();
        StrCopy(SerialSettings.keyTableName, kSectionNameCapacity, kActiveLayoutName);
        Feed("A\xE2@\xE9\r");
        WaitIdle();
    }

    // The mode is read when the thread starts; the keyboard is reset only
    // once no thread sends to it.
    void NextRound() {
        AwaitReceptionThreadEnd(thread);
        thread = kNoThread;
        sim::ResetKeyboard();
        StrCopy(SerialSettings.keyTableName, kSectionNameCapacity, u"US");
    }

    static std::size_t Presses(std::uint8_t key) {
        std::size_t n = 0;
        for (const auto& e : sim::KeyEvents())
            if (e.character == 0 && e.virtualKey == key && (e.flags & kKeyEventFKeyUp) == 0) ++n;
        return n;
    }
};

TEST_F(SendModeTest, EachModeTypesTheSameTextItsOwnWay) {
    const std::u16string expected = u"A@b\rAâ@é\r";

    {
        SCOPED_TRACE("KEYS: virtual keys, Control and left Alt for AltGr");
        TypeBothLines(SendMode::kKeys);
        EXPECT_EQ(sim::TypedText(), expected);
        for (const auto& e : sim::KeyEvents()) {
            EXPECT_EQ(e.character, 0);
            EXPECT_EQ(e.scanCode, 0);
            EXPECT_EQ(e.flags & ~kKeyEventFKeyUp, kKeyEventFSilent);
        }
        EXPECT_EQ(Presses(kVkLMenu), 2u);    // "@" in each line
        EXPECT_EQ(Presses(0xDD), 1u);        // the dead ´
        EXPECT_EQ(Presses(kVkCapital), 4u);  // off and on again around each line
        EXPECT_TRUE(sim::CapsLockOn());
    }

    NextRound();
    {
        SCOPED_TRACE("UNICODE: characters as themselves, Enter a key");
        TypeBothLines(SendMode::kUnicode);
        EXPECT_EQ(sim::TypedText(), expected);
        EXPECT_EQ(sim::CharactersSentAsThemselves(), 7u);
        // No modifier, no dead key and no Caps Lock: nothing a remote
        // session could read through a layout of its own.
        for (const auto& e : sim::KeyEvents()) {
            if (e.character != 0 || (e.flags & kKeyEventFKeyUp) != 0) continue;
            EXPECT_EQ(e.virtualKey, kVkReturn);
        }
        EXPECT_EQ(Presses(kVkReturn), 2u);
        EXPECT_TRUE(sim::CapsLockOn());
    }

    NextRound();
    {
        SCOPED_TRACE("SCANCODES: every key, modifiers and Caps Lock included, by scan code");
        TypeBothLines(SendMode::kScanCodes);
        EXPECT_EQ(sim::TypedText(), expected);
        for (const auto& e : sim::KeyEvents()) {
            EXPECT_EQ(e.character, 0);
            EXPECT_NE(e.scanCode, 0);
            EXPECT_EQ(e.flags & ~kKeyEventFKeyUp, kKeyEventFScanCode);
        }
        EXPECT_EQ(Presses(kVkLMenu), 2u);
        EXPECT_EQ(Presses(0xDD), 1u);
        EXPECT_EQ(Presses(kVkCapital), 4u);
        EXPECT_TRUE(sim::CapsLockOn());
    }
    EXPECT_TRUE(KeysLeftDown(sim::KeyEvents()).empty());
}

}  // namespace
