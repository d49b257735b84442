// The whole program with "Active keyboard layout": offered in the Keyboard
// list with no table in the file, chosen by KEYTABLE, typing a scan on the
// focused window's layout and saved back as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/resources/dialog_template.h"
#include "platform/sim/framework.h"
#include "platform/sim/layout.h"
#include "platform/sim/serial.h"
#include "tests/app/program_test_support.h"

using namespace platform;
using namespace resources;
using namespace program_test;

using ActiveLayoutProgramTest = ProgramTest;

TEST_F(ActiveLayoutProgramTest, OfferedWithoutTablesAndTypesOnTheFocusedLayout) {
    Put(GeneralWith("KEYTABLE", "KEYTABLE = Active keyboard layout", ""));
    sim::SetKeyboardLayout("de");
    Launch();
    EXPECT_EQ(sim::ComboItems(IDC_KEYBOARD),
              (std::vector<std::u16string>{u"Active keyboard layout"}));
    EXPECT_EQ(sim::ComboSelectedText(IDC_KEYBOARD), u"Active keyboard layout");
    AutoStartAndWaitReady();
    EXPECT_NE(Contents().find("KEYTABLE = Active keyboard layout"), std::string::npos);
    // On German, ö has a key of its own, / is Shift+7 and é comes through
    // the dead acute key: nothing needs to be sent as itself.
    ASSERT_TRUE(sim::FeedSerial(1, "Z\xF6ll-Nr. 5/\xE9\r"));
    ASSERT_TRUE(WaitUntil([] { return sim::TypedText() == u"Zöll-Nr. 5/é\r"; }));
    EXPECT_EQ(sim::CharactersSentAsThemselves(), 0u);
}
