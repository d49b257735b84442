// The active keyboard layout end to end on the simulated platform: bytes
// into the port, the focused application's text out, on layouts with dead
// keys, AltGr, Shift+AltGr and missing characters, with Caps Lock on, and
// without a heap allocation on the reception thread.
#include <atomic>
#include <cstdlib>
#include <new>

#include "keymap/active_layout.h"
#include "platform/sim/layout.h"
#include "platform/text.h"
#include "tests/serial/reception_fixture.h"

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
thread_local bool onReceptionThread = false;
std::atomic<std::uint64_t> receptionAllocations{0};
}  // namespace

void* operator new(std::size_t size) {
    if (onReceptionThread) receptionAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

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
    onReceptionThread = true;
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
    const KeystrokePlan& Plan(const char* layout, char16_t character) {
        const LayoutPlans& plans = PlansForLayout(sim::SimulatedLayout(layout));
        for (const KeystrokePlan& plan : plans.plans)
            if (plan.character == character) return plan;
        static const KeystrokePlan none{};
        return none;
    }
};

// Every printable Windows-1252 character, in lines, arrives as itself on
// every layout, whichever way the layout makes it.
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
}

TEST_F(ActiveLayoutTest, EachCharacterTakesTheFirstWayThatWorks) {
    // One key, alone, with Shift, with AltGr, with both.
    EXPECT_EQ(Plan("us", u'a').kind, PlanKind::kKey);
    EXPECT_EQ(Plan("us", u'a').key.virtualKey, 'A');
    EXPECT_EQ(Plan("fr", u'1').key.shift, 1);
    EXPECT_EQ(Plan("de", u'@').key.virtualKey, 'Q');
    EXPECT_EQ(Plan("de", u'@').key.altGr, 1);
    const KeystrokePlan& capitalE = Plan("lean", u'É');
    EXPECT_EQ(capitalE.kind, PlanKind::kKey);
    EXPECT_EQ(capitalE.key.virtualKey, 'E');
    EXPECT_TRUE(capitalE.key.shift == 1 && capitalE.key.altGr == 1);
    // Windows names fr's dead ^ key for '^', but it does not type '^' on its
    // own: AltGr+9 does.
    EXPECT_EQ(Plan("fr", u'^').kind, PlanKind::kKey);
    EXPECT_EQ(Plan("fr", u'^').key.virtualKey, '9');
    // A dead key and a letter; a dead key and Space for the accent alone.
    const KeystrokePlan& eCircumflex = Plan("fr", u'ê');
    EXPECT_EQ(eCircumflex.kind, PlanKind::kDeadKey);
    EXPECT_EQ(eCircumflex.dead.virtualKey, 0xDD);
    EXPECT_EQ(eCircumflex.key.virtualKey, 'E');
    const KeystrokePlan& diaeresis = Plan("fr", u'¨');
    EXPECT_EQ(diaeresis.kind, PlanKind::kDeadKey);
    EXPECT_EQ(diaeresis.dead.shift, 1);
    EXPECT_EQ(diaeresis.key.virtualKey, kVkSpace);
    EXPECT_EQ(Plan("de", u'Ý').kind, PlanKind::kDeadKey);
    // The character itself where the layout has no way.
    EXPECT_EQ(Plan("lean", u'!').kind, PlanKind::kCharacter);
    EXPECT_EQ(Plan("us", u'€').kind, PlanKind::kCharacter);
    // Control bytes and the undefined ones type nothing; CR and Tab are keys.
    const LayoutPlans& us = PlansForLayout(sim::SimulatedLayout("us"));
    for (int b : {0x00, 0x0A, 0x1B, 0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D})
        EXPECT_EQ(us.plans[b].kind, PlanKind::kNothing) << b;
    EXPECT_EQ(us.plans['\r'].key.virtualKey, kVkReturn);
    EXPECT_EQ(us.plans['\t'].key.virtualKey, kVkTab);
    // Kept: asking again does not ask the layout again.
    const std::size_t queries = sim::LayoutQueryCount();
    PlansForLayout(sim::SimulatedLayout("fr"));
    EXPECT_EQ(sim::LayoutQueryCount(), queries);
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
    receptionAllocations = 0;  // opening the port may; typing may not
    std::string lines;
    std::u16string expected;
    for (int i = 0; i < 20; ++i) {
        lines +=
            "Gr\xFC\xDF"
            "e, \xC2 \xB4 @ \xC9\x80\x9C!\r";
        expected += u"Grüße, Â ´ @ É€œ!\r";
    }
    Scan(lines);
    EXPECT_EQ(receptionAllocations.load(), 0u);
    EXPECT_EQ(sim::TypedText(), expected);
    EXPECT_TRUE(sim::CapsLockOn());
}

}  // namespace
