// GENERAL: validation with fixed defaults on load, and what is written back.
#include "settings_test_support.h"

using namespace settings_test;

namespace {

class GeneralSettings : public SettingsFileTest {
  protected:
    void SetUp() override {
        SettingsFileTest::SetUp();
        ListAvailablePorts(AvailablePorts, &AvailablePortCount);
        platform::StrCopy(SettingsFilePath, kTextCapacity, file_.c_str());
    }
    // Loads a GENERAL section holding just `lines`.
    void Load(const std::string& lines) {
        Put("[GENERAL]\n" + lines + "\n");
        LoadGeneralSettings();
    }
};

}  // namespace

TEST_F(GeneralSettings, AvailablePortsAreOneToTen) {
    for (int i = 0; i < 10; ++i) EXPECT_EQ(AvailablePorts[i], i + 1);
    EXPECT_EQ(AvailablePortCount, 10);
}

TEST_F(GeneralSettings, MissingFileGivesEveryDefault) {
    LoadGeneralSettings();
    EXPECT_EQ(SerialSettings.strokeDelay, 1);
    EXPECT_EQ(SerialSettings.port, 1);
    EXPECT_EQ(SerialSettings.baudRate, 9600u);
    EXPECT_EQ(SerialSettings.parity, 0);
    EXPECT_EQ(SerialSettings.dataBits, 8);
    EXPECT_EQ(SerialSettings.stopBits, 0);
    EXPECT_EQ(Narrow(SerialSettings.keyTableName), "ERROR");
    SaveSettings();  // nothing to save into, and nothing is created
    EXPECT_TRUE(Files().empty());
}

TEST_F(GeneralSettings, NumbersAreValidated) {
    struct Case {
        const char* line;
        std::uint16_t SerialSettingsRecord::*field;
        int expected;
    } cases[] = {
        {"STROKE_DELAY = 0", &SerialSettingsRecord::strokeDelay, 0},
        {"STROKE_DELAY = none", &SerialSettingsRecord::strokeDelay, 0},
        {"STROKE_DELAY = 65636", &SerialSettingsRecord::strokeDelay, 100},
        {"STROKE_DELAY = -1", &SerialSettingsRecord::strokeDelay, 65535},
        {"STROKE_DELAY = 99999999999", &SerialSettingsRecord::strokeDelay, 65535},
        {"COM = 3", &SerialSettingsRecord::port, 3},
        {"COM = 10", &SerialSettingsRecord::port, 10},
        {"COM = 11", &SerialSettingsRecord::port, 11},  // kept and listed, present or not
        {"COM = 256", &SerialSettingsRecord::port, 256},
        {"COM = 257", &SerialSettingsRecord::port, 1},
        {"COM = 0", &SerialSettingsRecord::port, 1},
        {"COM = 65539", &SerialSettingsRecord::port, 3},  // low 16 bits compared
        {"DATA = 4", &SerialSettingsRecord::dataBits, 8},
        {"DATA = 9", &SerialSettingsRecord::dataBits, 8},
        {"DATA = 5", &SerialSettingsRecord::dataBits, 5},
        {"DATA = 65541", &SerialSettingsRecord::dataBits, 5},
        {"PARITY = ODD", &SerialSettingsRecord::parity, 1},
        {"PARITY = EVEN", &SerialSettingsRecord::parity, 2},
        {"PARITY = MARK", &SerialSettingsRecord::parity, 3},
        {"PARITY = SPACE", &SerialSettingsRecord::parity, 4},
        {"PARITY = odd", &SerialSettingsRecord::parity, 0},
        {"PARITY = 1", &SerialSettingsRecord::parity, 0},
        {"STOP = 1.5", &SerialSettingsRecord::stopBits, 1},
        {"STOP = 2", &SerialSettingsRecord::stopBits, 2},
        {"STOP = 1.50", &SerialSettingsRecord::stopBits, 0},
        {"STOP = 3", &SerialSettingsRecord::stopBits, 0},
        {"SEND_MODE = UNICODE", &SerialSettingsRecord::sendMode, 1},
        {"SEND_MODE = SCANCODES", &SerialSettingsRecord::sendMode, 2},
        {"SEND_MODE = unicode", &SerialSettingsRecord::sendMode, 0},
        {"SEND_MODE = 1", &SerialSettingsRecord::sendMode, 0},
    };
    for (const Case& c : cases) {
        Load(c.line);
        EXPECT_EQ(SerialSettings.*c.field, c.expected) << c.line;
    }
}

TEST_F(GeneralSettings, BaudRateMustBeOneOfTheList) {
    for (const char* rate : {"110", "9600", "115200", "256000"}) {
        Load(std::string("BAUDRATE = ") + rate);
        EXPECT_EQ(SerialSettings.baudRate, std::stoul(rate)) << rate;
    }
    for (const char* rate : {"100", "0", "-9600", "4294967296", "fast"}) {
        Load(std::string("BAUDRATE = ") + rate);
        EXPECT_EQ(SerialSettings.baudRate, 9600u) << rate;
    }
}

TEST_F(GeneralSettings, KeyTableNameKeepsAtMost32Characters) {
    Load("KEYTABLE = " + std::string(40, 'K'));
    EXPECT_EQ(Narrow(SerialSettings.keyTableName), std::string(32, 'K'));
    Load("KEYTABLE = AZERTY # French");
    EXPECT_EQ(Narrow(SerialSettings.keyTableName), "AZERTY");
}

TEST_F(GeneralSettings, ContainmentReachesGeneralKeysToo) {
    // A line before COM whose value holds "COM" is taken as the COM line.
    Load("KEYTABLE = COMPACT\nCOM = 3");
    EXPECT_EQ(SerialSettings.port, 1);
    SerialSettings.port = 4;
    // A save would replace the KEYTABLE line, which would then be lost: COM
    // is named and not saved, and the file keeps both lines.
    SaveSettings();
    EXPECT_EQ(Contents(), "[GENERAL]\nKEYTABLE = COMPACT\nCOM = 3\n");
    EXPECT_NE(std::u16string(MisreadGeneralKeys).find(u"COM"), std::u16string::npos);
}

TEST_F(GeneralSettings, SaveWritesTheSixKeysItHolds) {
    Put("[GENERAL]\r\nSTROKE_DELAY = 7\r\nCOM = 1\r\nBAUDRATE = 9600\r\nPARITY = NONE\r\n"
        "DATA = 8\r\nSTOP = 1\r\nKEYTABLE = QWERTY\r\n[AZERTY]\r\n65 = 41\r\n");
    SerialSettings.port = 3;
    SerialSettings.dataBits = 7;
    SerialSettings.baudRate = 115200;
    SerialSettings.parity = 2;
    SerialSettings.stopBits = 1;
    platform::StrCopy(SerialSettings.keyTableName, kSectionNameCapacity, u"AZERTY");
    SaveSettings();
    EXPECT_EQ(Contents(),
              "[GENERAL]\r\nSTROKE_DELAY = 7\r\nCOM = 3\r\nBAUDRATE = 115200\r\nPARITY = EVEN\r\n"
              "DATA = 7\r\nSTOP = 1.5\r\nKEYTABLE = AZERTY\r\n[AZERTY]\r\n65 = 41\r\n");

    // Values outside the lists leave their keys as they were.
    SerialSettings.baudRate = 1234;
    SerialSettings.parity = 5;
    SerialSettings.stopBits = 3;
    SaveSettings();
    EXPECT_EQ(Read(u"GENERAL", u"BAUDRATE"), "115200");
    EXPECT_EQ(Read(u"GENERAL", u"PARITY"), "EVEN");
    EXPECT_EQ(Read(u"GENERAL", u"STOP"), "1.5");

    // Each parity and stop code is written as its name, and loads back.
    for (std::uint16_t code = 0; code < 5; ++code) {
        SerialSettings.parity = code;
        SerialSettings.stopBits = static_cast<std::uint16_t>(code % 3);
        SaveSettings();
        LoadGeneralSettings();
        EXPECT_EQ(SerialSettings.parity, code);
        EXPECT_EQ(SerialSettings.stopBits, code % 3);
    }
}

TEST(SettingsPath, LastThreeCharactersBecomeIni) {
    platform::sim::SetModuleFileName(u"C:\\Program Files\\Quorvel\\QuorvelCE.exe");
    ComputeSettingsFilePath();
    EXPECT_EQ(std::u16string(SettingsFilePath), u"C:\\Program Files\\Quorvel\\QuorvelCE.INI");
    platform::sim::SetModuleFileName(u"/opt/q/quorvel");  // whatever the three are
    ComputeSettingsFilePath();
    EXPECT_EQ(std::u16string(SettingsFilePath), u"/opt/q/quorINI");
    platform::sim::SetModuleFileName(u"ab");
    ComputeSettingsFilePath();
    EXPECT_EQ(std::u16string(SettingsFilePath), u"");
    // A path cut to fit the buffer would name some other file.
    std::u16string deep = u"/" + std::u16string(255, u'd') + u"/q.exe";
    platform::sim::SetModuleFileName(deep.c_str());
    ComputeSettingsFilePath();
    EXPECT_EQ(std::u16string(SettingsFilePath), u"");
    std::u16string fits = u"/" + std::u16string(252, u'd') + u"/q.exe";  // 259 units
    platform::sim::SetModuleFileName(fits.c_str());
    ComputeSettingsFilePath();
    EXPECT_EQ(std::u16string(SettingsFilePath), fits.substr(0, 256) + u"INI");
    platform::sim::SetModuleFileName(nullptr);  // the real executable
    ComputeSettingsFilePath();
    EXPECT_EQ(std::u16string(SettingsFilePath).substr(std::u16string(SettingsFilePath).size() - 3),
              u"INI");
    platform::sim::ResetFiles();
}
