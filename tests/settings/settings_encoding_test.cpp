// The file on disk: UTF-8 with or without a byte-order mark, CR LF or LF line
// ends, and bytes that are not UTF-8 at all all survive a rewrite unchanged.
#include "settings_test_support.h"

using namespace settings_test;

using SettingsEncoding = SettingsFileTest;

TEST_F(SettingsEncoding, ByteOrderMarkIsAcceptedAndKept) {
    Put("\xEF\xBB\xBF[GENERAL]\nCOM = 2\n");
    EXPECT_EQ(Read(u"GENERAL", u"COM"), "2");
    ListSettingSections(file_.c_str(), SerialSettings.SettingSectionList,
                        &SerialSettings.SettingSectionCount);
    EXPECT_EQ(SerialSettings.SettingSectionCount, 0);
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 0);
    EXPECT_EQ(Contents(), "\xEF\xBB\xBF[GENERAL]\nCOM = 3\n");
    // Also when the first line is the one replaced, and the mark is all there is.
    Put("\xEF\xBB\xBF[T]COM\n");
    EXPECT_EQ(Read(u"T", u"T"), "ERROR");
    Put("\xEF\xBB\xBF[X]\n[T]\n");
    ListSettingSections(file_.c_str(), SerialSettings.SettingSectionList,
                        &SerialSettings.SettingSectionCount);
    ASSERT_EQ(SerialSettings.SettingSectionCount, 2);
    EXPECT_EQ(Narrow(SerialSettings.SettingSectionList[0]), "X");
    Put("\xEF\xBB\xBF");
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 1);
    EXPECT_EQ(Contents(), "\xEF\xBB\xBF");
}

TEST_F(SettingsEncoding, LineEndsAreSeenAsOneLineFeedAndKept) {
    Put("[GENERAL]\r\nCOM = 2   \r\nDATA = 8\r\n\r\nSTOP = 1");
    EXPECT_EQ(Read(u"GENERAL", u"COM"), "2");
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 0);
    EXPECT_EQ(Contents(), "[GENERAL]\r\nCOM = 3\r\nDATA = 8\r\n\r\nSTOP = 1");
    EXPECT_EQ(Write(u"GENERAL", u"STOP", u"2"), 0);
    EXPECT_EQ(Contents(), "[GENERAL]\r\nCOM = 3\r\nDATA = 8\r\n\r\nSTOP = 2\r\n");

    // Mixed ends: the first line end of the file decides; others stay as they are.
    Put("[GENERAL]\nCOM = 2\r\nDATA = 8\r\n");
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 0);
    EXPECT_EQ(Contents(), "[GENERAL]\nCOM = 3\nDATA = 8\r\n");

    // The key in the second piece of a long first line: the line end comes
    // from further ahead in the file. Without any line end: CR LF.
    std::string header = "[GENERAL]" + std::string(255, ' ') + "COM=1\n";
    Put(header);
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 0);
    EXPECT_EQ(Contents(), "[GENERAL]" + std::string(250, ' ') + "COM = 3\n");
    Put("[GENERAL]" + std::string(255, ' ') + "COM=1");
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 0);
    EXPECT_EQ(Contents(), "[GENERAL]" + std::string(250, ' ') + "COM = 3\r\n");

    // A CR alone is a character like any other.
    Put("[GENERAL]\rCOM = 2\r\nDATA = 8\n");
    EXPECT_EQ(Read(u"GENERAL", u"COM"), "ERROR");  // the key is on the header line
    EXPECT_EQ(Read(u"GENERAL", u"DATA"), "8");
    EXPECT_EQ(Write(u"GENERAL", u"DATA", u"7"), 0);
    EXPECT_EQ(Contents(), "[GENERAL]\rCOM = 2\r\nDATA = 7\r\n");
}

TEST_F(SettingsEncoding, CrLfCountsAsOneUnitAtThePieceBoundary) {
    // 258 characters + CR LF fill one piece exactly; 259 + CR LF leave the
    // line feed alone in the next piece. Both are copied back unchanged.
    std::string fits = std::string(258, 'a') + "\r\n";
    std::string spills = std::string(259, 'b') + "\r\n";
    std::string original = "[GENERAL]\r\n" + fits + spills + "KEY = 1\r\n";
    Put(original);
    EXPECT_EQ(Read(u"GENERAL", u"KEY"), "1");
    EXPECT_EQ(Write(u"GENERAL", u"KEY", u"2"), 0);
    EXPECT_EQ(Contents(), "[GENERAL]\r\n" + fits + spills + "KEY = 2\r\n");
    // A key split over the boundary is in neither piece; the write then fails.
    std::string split = std::string(257, 'c') + "KEY = 1\r\n";
    Put("[GENERAL]\r\n" + split);
    EXPECT_EQ(Read(u"GENERAL", u"KEY"), "ERROR");
    EXPECT_EQ(Write(u"GENERAL", u"KEY", u"2"), 1);
}

TEST_F(SettingsEncoding, NonUtf8BytesAreCarriedThroughUnchanged) {
    // Latin-1 bytes, a stray continuation byte, a truncated sequence, an
    // overlong form, an encoded surrogate, and a NUL byte.
    const std::string odd("caf\xE9 \x80 \xE2\x82 \xC0\xAF \xED\xA0\x80 nul\x00x", 22);
    const std::string original = "[GENERAL]\n# " + odd + "\nCOM = 2\nNAME = \xE9t\xE9\n";
    Put(original);
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 0);
    std::string expected = original;
    expected.replace(expected.find("COM = 2"), 7, "COM = 3");
    EXPECT_EQ(Contents(), expected);
    // A value with such bytes reads back as escapes and writes back as the bytes.
    char16_t name[260];
    ASSERT_EQ(ReadSettingValue(u"GENERAL", u"NAME", u"ERROR", name, 260, file_.c_str()), 0);
    EXPECT_EQ(std::u16string(name), u"\xDCE9t\xDCE9");
    EXPECT_EQ(Write(u"GENERAL", u"NAME", name), 0);
    EXPECT_EQ(Contents(), expected);
    // Valid UTF-8 beyond ASCII in names and values.
    Put("[Fran\xC3\xA7"
        "ais \xE2\x82\xAC]\n65 = \xF0\x9F\x98\x80\n");
    EXPECT_EQ(Read(u"Fran\u00E7ais \u20AC", u"65"), "\xF0\x9F\x98\x80");
}

TEST_F(SettingsEncoding, NulByteEndsTheTextButNotTheCopy) {
    std::string original("[GENERAL]\nX = a\0b\nCOM = 2\n", 26);
    Put(original);
    EXPECT_EQ(Read(u"GENERAL", u"X"), "a");
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 0);
    std::string expected = original;
    expected.replace(expected.find("COM = 2"), 7, "COM = 3");
    EXPECT_EQ(Contents(), expected);
}
