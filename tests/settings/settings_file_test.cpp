// The settings engine on real files: how sections and keys are found, how
// values are cleaned, and how long lines are split.
#include "settings_test_support.h"

using namespace settings_test;

using SettingsRead = SettingsFileTest;

TEST_F(SettingsRead, FindsHeaderTextAnywhereInALineButCaseSensitively) {
    for (const char* header : {"[GENERAL]", "  [GENERAL] # main", "#[GENERAL]"}) {
        Put(std::string(header) + "\nCOM = 2\n");
        EXPECT_EQ(Read(u"GENERAL", u"COM"), "2") << header;
    }
    for (const char* header : {"[general]", "[ GENERAL ]"}) {
        Put(std::string(header) + "\nCOM = 2\n");
        int result = 0;
        EXPECT_EQ(Read(u"GENERAL", u"COM", 260, &result), "ERROR") << header;
        EXPECT_EQ(result, 1);
    }
}

TEST_F(SettingsRead, FindsKeysByContainmentAndRunsPastTheSection) {
    Put("[T]\n0 = 10\n1 = 20\n");
    EXPECT_EQ(Read(u"T", u"1"), "10");  // "0 = 10" is the first line holding "1"
    Put("[T]\n0 = 30\n1 = 20\n");
    EXPECT_EQ(Read(u"T", u"1"), "20");
    Put("[GENERAL]\nCOMMENT = x\nCOM = 2\n");
    EXPECT_EQ(Read(u"GENERAL", u"COM"), "x");
    // Missing from its own section, present in a later one.
    Put("[GENERAL]\nDATA = 8\n[OTHER]\nCOM = 4\n");
    EXPECT_EQ(Read(u"GENERAL", u"COM"), "4");
    // The header line itself is never searched; only its first occurrence counts.
    Put("[X] 1 = 5\n1 = 7\n[X]\n1 = 9\n");
    EXPECT_EQ(Read(u"X", u"1"), "7");
}

TEST_F(SettingsRead, FirstMatchingLineWithoutEqualsGivesTheDefault) {
    Put("[GENERAL]\n# COM port\nCOM = 2\n");
    int result = 0;
    EXPECT_EQ(Read(u"GENERAL", u"COM", 260, &result), "ERROR");
    EXPECT_EQ(result, 1);
}

TEST_F(SettingsRead, CleansTheValue) {
    struct Case {
        const char* line;
        const char* value;
    } cases[] = {
        {"COM = 2", "2"},          {"COM=2", "2"},          {"COM =   2   ", "2"},
        {"  COM = 2", "2"},        {"COM = 2 # port", "2"}, {"COM = a b", "a b"},
        {"COM = 2 = 3", "2 = 3"},  {"COM =\t2", "\t2"},     {"COM =", "ERROR"},
        {"COM = # none", "ERROR"}, {"#COM = 2", "#2"},      {"##COM = 2", "##2"},
        {"COM # = 2", "COM"},      {"COM = 2\r #", "2\r"},  {"KEYTABLE COM = ERROR", "ERROR"},
    };
    for (const Case& c : cases) {
        Put(std::string("[GENERAL]\n") + c.line + "\n");
        EXPECT_EQ(Read(u"GENERAL", u"COM"), c.value) << c.line;
    }
    // A stored "ERROR" is a found value (result 0); callers treat it as absent.
    Put("[GENERAL]\nKEYTABLE = ERROR\n");
    int result = 1;
    EXPECT_EQ(Read(u"GENERAL", u"KEYTABLE", 260, &result), "ERROR");
    EXPECT_EQ(result, 0);
}

TEST_F(SettingsRead, MissingOrEmptyFileGivesTheDefault) {
    int result = 0;
    EXPECT_EQ(Read(u"GENERAL", u"COM", 260, &result), "ERROR");
    EXPECT_EQ(result, 1);
    Put("");
    EXPECT_EQ(Read(u"GENERAL", u"COM", 260, &result), "ERROR");
    EXPECT_EQ(result, 1);
}

TEST_F(SettingsRead, CutsValuesToTheDestinationCapacity) {
    std::string v32(32, 'a'), v40(40, 'b');
    Put("[GENERAL]\nKEYTABLE = " + v32 + "\nOTHER = " + v40 + "\n");
    int result = 1;
    EXPECT_EQ(Read(u"GENERAL", u"KEYTABLE", 33, &result), v32);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Read(u"GENERAL", u"OTHER", 33, &result), v40.substr(0, 32));
    EXPECT_EQ(result, 0);
    // The default text is cut the same way.
    char16_t small[4];
    EXPECT_EQ(ReadSettingValue(u"NONE", u"X", u"ERROR", small, 4, file_.c_str()), 1);
    EXPECT_EQ(Narrow(small), "ERR");
}

TEST_F(SettingsRead, SplitsLongLinesIntoPiecesOf259Units) {
    // 300 characters and a line feed come as 259, then 41 with the line feed.
    std::string line(300, 'x');
    line.replace(270, 3, "KEY");   // wholly in the second piece
    line.replace(257, 4, "CUTS");  // split by the boundary
    line.replace(100, 6, "FIRST=");
    Put("[S]\n" + line + "\nCUTS = later\nKEY = no\n");
    EXPECT_EQ(Read(u"S", u"FIRST"), line.substr(106, 259 - 106));
    EXPECT_EQ(Read(u"S", u"KEY"), "ERROR");  // the second piece matches, but has no "="
    EXPECT_EQ(Read(u"S", u"CUTS"), "later");
    // A supplementary character is never split: the piece ends one unit early.
    std::string wide(258, 'y');
    wide += "\xF0\x9F\x98\x80= z";  // U+1F600 at units 258-259
    Put("[S]\n" + wide + "\n");
    EXPECT_EQ(Read(u"S", u"\U0001F600"), "z");
}

TEST_F(SettingsRead, HeaderTextThatDoesNotFitFails) {
    std::u16string longName(258, u'N');  // "[" + 258 + "]" needs 261 units
    Put("[" + std::string(258, 'N') + "]\nK = v\n");
    int result = 0;
    char16_t value[260];
    result = ReadSettingValue(longName.c_str(), u"K", u"ERROR", value, 260, file_.c_str());
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Narrow(value), "ERROR");
    std::u16string fits(257, u'N');
    Put("[" + std::string(257, 'N') + "]\nK = v\n");
    EXPECT_EQ(ReadSettingValue(fits.c_str(), u"K", u"ERROR", value, 260, file_.c_str()), 0);
}

TEST(SettingsText, TrimAndCut) {
    char16_t text[64];
    auto trim = [&](const char16_t* in, char16_t separator) {
        platform::StrCopy(text, 64, in);
        TrimSettingValue(text, separator);
        return Narrow(text);
    };
    EXPECT_EQ(trim(u"###", u'='), "###");
    EXPECT_EQ(trim(u"a # b # c", u'='), "a");
    EXPECT_EQ(trim(u"  x  \n", u'='), "x");
    EXPECT_EQ(trim(u"x \t \n", u'='), "x \t");
    EXPECT_EQ(trim(u"k = \n", u'='), "");
    EXPECT_EQ(trim(u"1b,  Shift  ", u','), "Shift");
    auto cut = [&](const char16_t* in, char16_t c) {
        platform::StrCopy(text, 64, in);
        CutSettingText(text, c);
        return Narrow(text);
    };
    EXPECT_EQ(cut(u"a.b.c", u'.'), "a");
    EXPECT_EQ(cut(u"abc", u'.'), "");
    EXPECT_EQ(cut(u",x", u','), "");
}

using SettingsList = SettingsFileTest;

TEST_F(SettingsList, NamesEveryLineWithABracketExceptGeneral) {
    struct Case {
        const char* line;
        const char* name;  // null: not listed
    } cases[] = {
        {"[X]", "X"},
        {"[X]  # note", "X"},
        {"  [X]", "X"},
        {"[X] [Y]", "X"},
        {"[ X ]", "X "},
        {"[X", ""},
        {"#[X]", "#X"},
        {"K = [A]", "A"},
        {"A # [B]", ""},
        {"[GENERAL]", nullptr},
        {"[GENERAL2]", nullptr},
        {"[X] # not GENERAL", nullptr},
        {"[General]", "General"},
    };
    for (const Case& c : cases) {
        Put(std::string(c.line) + "\n");
        ListSettingSections(file_.c_str(), SerialSettings.SettingSectionList,
                            &SerialSettings.SettingSectionCount);
        if (c.name == nullptr) {
            EXPECT_EQ(SerialSettings.SettingSectionCount, 0) << c.line;
        } else {
            ASSERT_EQ(SerialSettings.SettingSectionCount, 1) << c.line;
            EXPECT_EQ(Narrow(SerialSettings.SettingSectionList[0]), c.name) << c.line;
        }
    }
}

TEST_F(SettingsList, KeepsFileOrderStopsAtTenAndCutsLongNames) {
    std::string file = "[GENERAL]\nKEYTABLE = A\n";
    for (int i = 0; i < 12; ++i) file += "[S" + std::to_string(i) + "]\n0 = 41\n";
    file += "[S0]\n";
    Put(file);
    ListSettingSections(file_.c_str(), SerialSettings.SettingSectionList,
                        &SerialSettings.SettingSectionCount);
    ASSERT_EQ(SerialSettings.SettingSectionCount, 10);
    EXPECT_EQ(Narrow(SerialSettings.SettingSectionList[0]), "S0");
    EXPECT_EQ(Narrow(SerialSettings.SettingSectionList[9]), "S9");

    Put("[" + std::string(40, 'L') + "]\n[A]\n[A]\n");
    ListSettingSections(file_.c_str(), SerialSettings.SettingSectionList,
                        &SerialSettings.SettingSectionCount);
    ASSERT_EQ(SerialSettings.SettingSectionCount, 3);
    EXPECT_EQ(Narrow(SerialSettings.SettingSectionList[0]), std::string(32, 'L'));
    EXPECT_EQ(Narrow(SerialSettings.SettingSectionList[2]), "A");

    std::filesystem::remove(FsPath("QuorvelCE.INI"));
    ListSettingSections(file_.c_str(), SerialSettings.SettingSectionList,
                        &SerialSettings.SettingSectionCount);
    EXPECT_EQ(SerialSettings.SettingSectionCount, 0);
}
