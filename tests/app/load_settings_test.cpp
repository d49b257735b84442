// The start-up load: the section list, GENERAL, and then the table KEYTABLE
// names, from the settings file beside the executable.
#include "app/load_settings.h"

#include "keymap/key_table.h"
#include "tests/settings/settings_test_support.h"

using namespace settings_test;

namespace {

class LoadSettingsTest : public SettingsFileTest {
  protected:
    void SetUp() override {
        SettingsFileTest::SetUp();
        ListAvailablePorts(AvailablePorts, &AvailablePortCount);
    }
};

}  // namespace

TEST_F(LoadSettingsTest, RunsTheWholeStartUp) {
    auto exe = Path("QuorvelCE.exe");
    platform::sim::SetModuleFileName(exe.c_str());
    Put("[GENERAL]\nCOM = 2\nKEYTABLE = B\n[A]\n65 = 41\n[B]\n66 = 42, s\n");
    LoadSettings();
    EXPECT_EQ(std::u16string(SettingsFilePath), Path("QuorvelCE.INI"));
    ASSERT_EQ(SerialSettings.SettingSectionCount, 2);
    EXPECT_EQ(Narrow(SerialSettings.SettingSectionList[1]), "B");
    EXPECT_EQ(SerialSettings.port, 2);
    EXPECT_EQ(KeyTable[66].virtualKey, 0x42);
    EXPECT_EQ(KeyTable[66].shift, 1);
    EXPECT_EQ(KeyTable[65].virtualKey, 0);
}
