// Scans shaped by the SCAN_ settings on the simulated platform, in table mode
// and with the active keyboard layout, alone and together, with line-wait on
// and off, "#" and the 100-keystroke flush, and with no heap allocation on
// the reception thread.
#include <algorithm>

#include "keymap/active_layout.h"
#include "keymap/key_table.h"
#include "platform/sim/layout.h"
#include "platform/text.h"
#include "tests/serial/reception_fixture.h"
#include "tests/support/counting_allocator.h"

using namespace platform;
using namespace testing_support;

namespace {

std::uint32_t CountedReceptionThread(void* parameter) {
    CountAllocationsOnThisThread();
    return ReceptionThreadProc(parameter);
}

class Shaping : public ReceptionTest {
  protected:
    void Set(char16_t (&field)[kTextCapacity], const char16_t* text) {
        StrCopy(field, kTextCapacity, text);
    }
    void StartCounted() {
        AwaitReceptionThreadEnd(thread);
        RunningFlag = 1;
        thread = CreateThread(CountedReceptionThread, nullptr, nullptr);
        ASSERT_NE(thread, kNoThread);
        WaitReady();
        ResetCountedAllocations();  // opening the port may; typing may not
    }
    void Scan(const std::string& bytes) {
        Feed(bytes);
        WaitIdle();
    }
};

// The GS1 DataMatrix scan of a medicine pack, into a web form on the active
// layout: identifier stripped, GS as "|", carriage return as Tab; then the
// same settings on scans without identifier, with "]" that starts none, and
// with a scan split by "#" and by the 100-keystroke flush.
TEST_F(Shaping, ActiveLayoutGs1ScanArrivesWithItsFieldsApart) {
    StrCopy(SerialSettings.keyTableName, kSectionNameCapacity, kActiveLayoutName);
    sim::SetKeyboardLayout("fr");
    SerialSettings.scanStripIdentifier = 1;
    Set(SerialSettings.scanGs, u"|");
    Set(SerialSettings.scanReturn, u"{Tab}");
    Set(SerialSettings.scanPrefix, u"<{{}");
    Set(SerialSettings.scanReplace[0], u"ABC=>{None}");
    StartCounted();

    Scan(
        "]d2010950110153000317251231"
        "10ABC123\x1D"
        "21XYZ\r");
    EXPECT_EQ(sim::TypedText(), u"<{01095011015300031725123110123|21XYZ\t");

    // No identifier, and a "]" that begins none, are typed as they came.
    sim::ResetKeyboard();
    sim::SetKeyboardLayout("fr");
    Scan("]12\r]d\r]\r");
    EXPECT_EQ(sim::TypedText(), u"<{]12\t<{]d\t<{]\t");

    // "#" types what came so far; the prefix is not typed again after it,
    // nor after the flush of the 100th keystroke.
    sim::ResetKeyboard();
    sim::SetKeyboardLayout("fr");
    Feed("12#");
    WaitIdle();
    EXPECT_EQ(sim::TypedText(), u"<{12#");
    Scan(std::string(120, '7') + "\r");
    EXPECT_EQ(sim::TypedText(), u"<{12#" + std::u16string(120, u'7') + u"\t");
    EXPECT_TRUE(KeysLeftDown(sim::KeyEvents()).empty());
    EXPECT_EQ(CountedAllocations(), 0u);
}

// With a table: chords as keys with only their own modifiers, GS, prefix and
// suffix keys, what carriage return types, a replacement's text typed through
// the table, and nothing typed before the line ends while line-wait is on.
TEST_F(Shaping, TableModeTypesKeysAndChordsAroundEachScan) {
    KeyTable['-'] = {0, 0, kVkOemMinus};
    Set(SerialSettings.scanPrefix, u"{F2}");
    Set(SerialSettings.scanSuffix, u"{Shift+Tab}");
    Set(SerialSettings.scanGs, u"{Ctrl+]}");
    Set(SerialSettings.scanReplace[1], u"12=>-");
    StartCounted();

    Feed(
        "A1\x1D"
        "12");
    WaitIdle();
    EXPECT_EQ(sim::KeyEventCount(), 0u);
    Feed("\r");
    WaitIdle();
    // No SCAN_CR: carriage return types its own table entry.
    EXPECT_EQ(TypedKeys(sim::KeyEvents()),
              "\x71"
              "A1\xDD\xBD\t\r");
    const std::vector<Stroke> strokes = Strokes(sim::KeyEvents());
    for (const std::vector<Stroke>& chord :
         {std::vector<Stroke>{Release(kVkShift), Press(kVkControl), Press(kVkOem6),
                              Release(kVkOem6), Release(kVkControl), Release(kVkControl)},
          std::vector<Stroke>{Press(kVkShift), Press(kVkTab), Release(kVkTab), Release(kVkShift),
                              Release(kVkControl)}}) {
        EXPECT_NE(std::search(strokes.begin(), strokes.end(), chord.begin(), chord.end()),
                  strokes.end());
    }
    EXPECT_TRUE(KeysLeftDown(sim::KeyEvents()).empty());

    // A CR alone is no scan: no prefix, no suffix.
    sim::ResetKeyboard();
    Scan("\r");
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "\r");
    EXPECT_EQ(CountedAllocations(), 0u);
}

// Line-wait off: every byte is typed as it arrives, except those that may
// still begin an identifier or a replacement, which wait for the next byte
// (or the carriage return) to decide.
TEST_F(Shaping, LineWaitOffHoldsOnlyWhatIsUndecided) {
    KeyTable[']'] = {0, 0, kVkOem6};
    SerialSettings.scanStripIdentifier = 1;
    Set(SerialSettings.scanReturn, u"{Enter}{Enter}");
    Set(SerialSettings.scanReplace[4], u"AB=>x");
    Start();
    WaitReady();
    LineWaitFlag = 0;
    Scan("]");
    EXPECT_EQ(sim::KeyEventCount(), 0u);
    Scan("C");
    EXPECT_EQ(sim::KeyEventCount(), 0u);
    Scan("1");  // "]C1" was an identifier: nothing typed
    EXPECT_EQ(sim::KeyEventCount(), 0u);
    Scan("9A");
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "9");
    Scan("C");
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "9AC");
    Scan("A\r");
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "9ACA\r\r");
    sim::ResetKeyboard();
    Scan("]1AB\r");
    EXPECT_EQ(TypedKeys(sim::KeyEvents()),
              "\xDD"
              "1X\r\r");
}

}  // namespace
