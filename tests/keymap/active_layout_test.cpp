// The active keyboard layout's lookup: how each Windows-1252 byte is typed on
// the simulated platform's layouts (a key with Shift and AltGr, a dead key and
// a key, or the character itself), and that a layout's plans are kept. Typing
// them through the reception thread is tested under tests/serial.
#include "keymap/active_layout.h"

#include <gtest/gtest.h>

#include "platform/sim/keyboard.h"
#include "platform/sim/layout.h"

using namespace platform;

namespace {

class ActiveLayoutTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::ResetKeyboard(); }

    const KeystrokePlan& Plan(const char* layout, char16_t character) {
        const LayoutPlans& plans = PlansForLayout(sim::SimulatedLayout(layout));
        for (const KeystrokePlan& plan : plans.plans)
            if (plan.character == character) return plan;
        static const KeystrokePlan none{};
        return none;
    }
};

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

}  // namespace
