// Reception with the active keyboard layout on the simulated platform: bytes
// into the port, the focused application's text out, on layouts with dead
// keys, AltGr, Shift+AltGr and missing characters, with Caps Lock on, and
// without a heap allocation on the reception thread. The layout lookup itself
// is tested under tests/keymap.
#include "keymap/active_layout.h"
#include "platform/sim/layout.h"
#include "platform/text.h"
#include "tests/serial/reception_fixture.h"
#include "tests/support/counting_allocator.h"

using namespace platform;
using namespace testing_support;

namespace {

// Windows-1252's 0x80 to 0x9F, written out here rather than taken from the
// code under test; 0 where the code page has no character.
const char16_t kHighRow[] = u"€\0‚ƒ„…†‡ˆ‰Š‹Œ\0Ž\0\0‘’“”•–—˜™š›œ\0žŸ";

char16_t Expected(std::uint8_t byte) {
    if (byte == '\r') return u'\r';
    if (byte < 0x20 || byte == 0x7F) return 0;
    if (byte >= 0x80 && byte < 0xA0) return kHighRow[byte - 0x80];
    return byte;
}

std::uint32_t CountedReceptionThread(void* parameter) {
    CountAllocationsOnThisThread();
    return ReceptionThreadProc(parameter);
}

class ActiveLayoutTest : public ReceptionTest {
  protected:
    // Ends the thread of a previous round, so the keyboard can be reset.
    void EndThread() {
        AwaitReceptionThreadEnd(thread);
        thread = kNoThread;
    }
    void UseActiveLayout(const char* layout) {
        StrCopy(SerialSettings.keyTableName, kSectionNameCapacity, kActiveLayoutName);
        sim::SetKeyboardLayout(layout);
    }
    // Feeds every byte as a scan would and waits until it has been typed.
    void Scan(const std::string& bytes) {
        Feed(bytes);
        WaitIdle();
    }
};

// Every printable Windows-1252 character, in lines, arrives as itself on
// every layout, whichever way the layout makes it; what no key types is
// announced to the backend before its line.
TEST_F(ActiveLayoutTest, EveryPrintableCharacterArrivesOnEveryLayout) {
    for (const char* layout : {"us", "fr", "de", "lean"}) {
        SCOPED_TRACE(layout);
        EndThread();
        sim::ResetKeyboard();
        UseActiveLayout(layout);
        Start();
        WaitReady();
        std::string bytes;
        std::u16string expected;
        for (int b = 0x20; b < 0x100; ++b) {
            if (Expected(std::uint8_t(b)) == 0) continue;
            bytes += char(b);
            expected += Expected(std::uint8_t(b));
            if (bytes.size() % 40 == 39) {
                bytes += '\r';
                expected += u'\r';
            }
        }
        bytes += '\r';
        expected += u'\r';
        Scan(bytes);
        EXPECT_EQ(sim::TypedText(), expected);
        EXPECT_TRUE(KeysLeftDown(sim::KeyEvents()).empty());
    }
    // A layout without a character sends the character itself; one with
    // it never does.
    EndThread();
    sim::ResetKeyboard();
    UseActiveLayout("us");
    Start();
    WaitReady();
    Scan("a!\xE9\x80\r");
    EXPECT_EQ(sim::TypedText(), u"a!é€\r");
    EXPECT_EQ(sim::CharactersSentAsThemselves(), 2u);
    // Those characters were announced, in order, before the line's first
    // event, so that a backend can make them typable for the whole line.
    EXPECT_EQ(sim::PreparedCharacters(), u"é€");
    EXPECT_EQ(sim::PreparedAtEvent(), 0u);
}

TEST_F(ActiveLayoutTest, LinesBufferAndEndAsForATable) {
    UseActiveLayout("us");
    Start();
    WaitReady();
    // Line feed, escape and an undefined byte type nothing and end no line.
    Scan("ab\n\x1b\x81");
    EXPECT_EQ(sim::TypedText(), u"");
    Scan("c\tx#");
    EXPECT_EQ(sim::TypedText(), u"abc\tx#");
    // The hundredth character types the line.
    Scan(std::string(150, 'z'));
    EXPECT_EQ(sim::TypedText(), u"abc\tx#" + std::u16string(100, u'z'));
}

// Where the layout calls answer for the layout in use (X), a layout change
// landing while the plans are worked out would mix two layouts under the
// first one's identity: they are worked out again for the layout now in use.
TEST_F(ActiveLayoutTest, ALayoutChangeDuringThePlansGivesPlansOfTheNewLayoutOnly) {
    UseActiveLayout("us");
    Start();
    WaitReady();
    sim::AnswerForTheLayoutInUse(true);
    const KeyboardLayout us = ActiveKeyboardLayout();
    // "!" is Shift and 1 on us, a key of its own on fr, where Shift and 1 is "1".
    sim::SwitchLayoutAfterQueries(3, "fr");
    Scan("!1&a\r");
    EXPECT_EQ(sim::TypedText(), u"!1&a\r");
    const KeyboardLayout fr = ActiveKeyboardLayout();
    EXPECT_NE(fr, us);
    EXPECT_EQ(PlansForLayout(fr).layout, fr);

    // Nothing was kept under us's identity: back on us, "!" is Shift and 1.
    sim::SetKeyboardLayout("us");
    const KeystrokePlan& bang = PlansForLayout(us).plans[static_cast<int>('!')];
    EXPECT_EQ(bang.key.virtualKey, '1');
    EXPECT_EQ(bang.key.shift, 1);
}

// Caps Lock is off while a line is typed, for a table as for the layout, and
// on again after it.
TEST_F(ActiveLayoutTest, CapsLockChangesNoScanAndStaysOn) {
    sim::SetCapsLock(true);
    Start();
    WaitReady();
    Scan("Ab1\r");  // the fixture's table: A with Shift, b without
    EXPECT_EQ(sim::TypedText(), u"Ab1\r");
    EXPECT_TRUE(sim::CapsLockOn());
    const auto strokes = Strokes(sim::KeyEvents());
    ASSERT_GE(strokes.size(), 4u);
    EXPECT_EQ(strokes.front(), Press(kVkCapital));
    EXPECT_EQ(strokes.back(), Release(kVkCapital));

    // fr: Caps Lock shifts the digit row too, and dead keys meet it.
    EndThread();
    sim::ResetKeyboard();
    sim::SetCapsLock(true);
    UseActiveLayout("fr");
    Start();
    WaitReady();
    Scan(
        "a\xE9"
        "2&\xEA\xC2\x80\r");
    EXPECT_EQ(sim::TypedText(), u"aé2&êÂ€\r");
    EXPECT_TRUE(sim::CapsLockOn());
    // With Caps Lock off, it is left alone.
    sim::SetCapsLock(false);
    const std::size_t before = sim::KeyEventCount();
    Scan("x\r");
    for (std::size_t i = before; i < sim::KeyEvents().size(); ++i)
        EXPECT_NE(sim::KeyEvents()[i].virtualKey, kVkCapital);
    EXPECT_FALSE(sim::CapsLockOn());
}

TEST_F(ActiveLayoutTest, TypingAllocatesNothingOnTheReceptionThread) {
    UseActiveLayout("de");
    sim::SetCapsLock(true);
    AwaitReceptionThreadEnd(thread);
    RunningFlag = 1;
    thread = CreateThread(CountedReceptionThread, nullptr, nullptr);
    ASSERT_NE(thread, kNoThread);
    WaitReady();
    ResetCountedAllocations();  // opening the port may; typing may not
    std::string lines;
    std::u16string expected;
    for (int i = 0; i < 20; ++i) {
        lines +=
            "Gr\xFC\xDF"
            "e, \xC2 \xB4 @ \xC9\x80\x9C!\r";
        expected += u"Grüße, Â ´ @ É€œ!\r";
    }
    Scan(lines);
    EXPECT_EQ(CountedAllocations(), 0u);
    EXPECT_EQ(sim::TypedText(), expected);
    EXPECT_TRUE(sim::CapsLockOn());
}

}  // namespace
