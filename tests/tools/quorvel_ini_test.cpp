// quorvel-ini run in-process: the generator's promise (every byte finds its
// own line, whatever the list), check's agreement with the engine on
// arbitrary files, and the cases the golden-output tests cannot reach.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "settings/general_settings.h"
#include "tools/commands.h"
#include "tools/engine_bridge.h"
#include "tools/text_conversion.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

class QuorvelIniTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Unique per run: the native and sanitizer builds may run these at once.
        dir_ = fs::temp_directory_path() /
               ("quorvel_ini_test_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                std::to_string(std::random_device{}()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::u16string Write(const std::string& name, const std::string& bytes) {
        fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        std::u8string utf8 = path.u8string();
        return FromUtf8(std::string(utf8.begin(), utf8.end()));
    }

    int Run(const std::vector<std::u16string>& args) {
        io_ = ToolOutput{};
        return RunQuorvelIni(args, io_);
    }

    fs::path dir_;
    ToolOutput io_;
};

struct Mapping {
    std::uint16_t virtualKey = 0;
    int modifier = 0;  // 0 none, 1 shift, 2 altgr
};

std::string ListLine(int byte, const Mapping& m) {
    char line[64];
    std::snprintf(line, sizeof line, "0x%02X 0x%02X%s\n", static_cast<unsigned>(byte),
                  static_cast<unsigned>(m.virtualKey),
                  m.modifier == 1   ? " shift"
                  : m.modifier == 2 ? " altgr"
                                    : "");
    return line;
}

// A key line must stay one line of valid text: write refuses what would break
// it as a wrong call, with a one-line reason, and leaves the file alone.
TEST_F(QuorvelIniTest, WriteRefusesKeysValuesAndSectionsThatWouldBreakTheLine) {
    const std::string original = "[GENERAL]\nCOM = 1\nDATA = 8\n";
    const std::u16string file = Write("w.ini", original);
    const std::u16string nul(u"5\0x", 3);
    const std::vector<std::vector<std::u16string>> calls = {
        {u"GENERAL", u"", u"5"},         {u"GENERAL", u"COM", u"3\n[Evil]"},
        {u"GENERAL", u"COM", u"3\r"},    {u"GENERAL", u"C\nOM", u"3"},
        {u"GENERAL", u"COM", nul},       {u"GEN]ERAL", u"COM", u"3"},
        {u"GENERAL", u"COM", u"\xD800"}, {u"GENERAL", u"\xDFFF", u"3"},
    };
    for (const auto& call : calls) {
        EXPECT_EQ(Run({u"write", file, call[0], call[1], call[2]}), kUsageError)
            << ToUtf8(call[1]) << " = " << ToUtf8(call[2]);
        EXPECT_THAT(io_.err, HasSubstr("quorvel-ini: write refused: "));
        EXPECT_EQ(std::count(io_.err.begin(), io_.err.end(), '\n'), 1) << io_.err;
        std::ifstream in(dir_ / "w.ini", std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), original);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
    }
    // A surrogate pair is a character like any other.
    EXPECT_EQ(Run({u"write", file, u"GENERAL", u"COM", u"\xD83D\xDE00"}), 0);
}

// Random lists: the generator either writes a section that check passes and
// that the engine loads exactly as listed, with no byte left to an earlier
// table, or it refuses with a reason. Nearly every list must be accepted.
TEST_F(QuorvelIniTest, GeneratedSectionsLoadExactlyAsListed) {
    std::mt19937 random(20261209);
    int accepted = 0;
    const int lists = 40;
    for (int round = 0; round < lists; ++round) {
        Mapping wanted[kKeyTableSize];
        std::string list = "# random list\n";
        for (int byte = 0; byte < kKeyTableSize; ++byte) {
            if (random() % 3 != 0) continue;
            // Modifiers, locks and the Windows keys are codes check rightly flags.
            do {
                wanted[byte].virtualKey = static_cast<std::uint16_t>(1 + random() % 0xFE);
            } while (wanted[byte].virtualKey == 0x10 || wanted[byte].virtualKey == 0x11 ||
                     wanted[byte].virtualKey == 0x12 || wanted[byte].virtualKey == 0x14 ||
                     wanted[byte].virtualKey == 0x5B || wanted[byte].virtualKey == 0x5C);
            wanted[byte].modifier = static_cast<int>(random() % 3);
            list += ListLine(byte, wanted[byte]);
        }
        std::u16string listPath = Write("random.list", list);
        int status = Run({u"generate", u"Random", listPath});
        if (status == 1) {
            EXPECT_THAT(io_.err, HasSubstr("contain each other's numbers")) << list;
            continue;
        }
        ASSERT_EQ(status, 0) << io_.err;
        ++accepted;
        std::u16string ini = Write("random.ini", "[GENERAL]\nKEYTABLE = Random\n" + io_.out);

        EXPECT_EQ(Run({u"check", ini}), 0) << io_.out << list;
        EXPECT_THAT(io_.out, IsEmpty());

        ToolOutput io;
        ASSERT_TRUE(SetSettingsPath(ini, io));
        KeyTableEntry marked[kKeyTableSize];
        for (KeyTableEntry& e : marked) e = KeyTableEntry{1, 1, 0xFFFF};
        KeyTableEntry loaded[kKeyTableSize];
        LoadTableFrom(marked, {u"Random"}, loaded);
        for (int byte = 0; byte < kKeyTableSize; ++byte) {
            SCOPED_TRACE("byte " + std::to_string(byte));
            EXPECT_EQ(loaded[byte].virtualKey, wanted[byte].virtualKey);
            EXPECT_EQ(loaded[byte].shift, wanted[byte].modifier == 1 ? 1 : 0);
            EXPECT_EQ(loaded[byte].altGr, wanted[byte].modifier == 2 ? 1 : 0);
        }
    }
    EXPECT_GE(accepted, lists - 2);
}

TEST_F(QuorvelIniTest, GeneratorRefusesLinesThatFindEachOther) {
    // Byte 5 types 0x1F, written "1F" or "-FFE1", both holding "1"; byte 1
    // types 0x5B, written "5B" or "-FFA5", both holding "5": whichever line
    // comes first, the other byte is read from it.
    std::u16string list = Write("cycle.list", "0x05 0x1F\n0x01 0x5B shift\n");
    EXPECT_EQ(Run({u"generate", u"Cycle", list}), 1);
    EXPECT_THAT(io_.err, HasSubstr("bytes 1, 5"));
    EXPECT_THAT(io_.out, IsEmpty());

    // A circle that the other way of writing a code breaks: 0x41 is also
    // "-FFBF" and 0x05 "-FFFB", neither holding a digit.
    std::u16string breakable = Write("breakable.list", "0x05 0x41\n0x01 0x05 shift\n");
    EXPECT_EQ(Run({u"generate", u"Circle", breakable}), 0) << io_.err;
    EXPECT_THAT(io_.out, HasSubstr(" = -FF"));
    std::u16string ini = Write("circle.ini", io_.out);
    EXPECT_EQ(Run({u"check", ini, u"Circle"}), 0) << io_.out;
    EXPECT_EQ(Run({u"keytable", ini, u"Circle"}), 0);
    EXPECT_THAT(io_.out, HasSubstr("\n1 vk=0x0005 shift=1 altgr=0\n"));
    EXPECT_THAT(io_.out, HasSubstr("\n5 vk=0x0041 shift=0 altgr=0\n"));

    EXPECT_EQ(Run({u"generate", u"Bad[Name]", list}), kUsageError);
    EXPECT_EQ(Run({u"generate", u"MY GENERAL TABLE", list}), kUsageError);
    EXPECT_EQ(Run({u"generate", u"Absent", Write("x", "") + u"-missing"}), 1);
}

// Whatever the file holds, the lines check reads from must give exactly what
// the engine reads: otherwise the tool would report the wrong lines.
TEST_F(QuorvelIniTest, CheckAgreesWithTheEngineOnArbitraryFiles) {
    const char* fragments[] = {"[T]",
                               "[GENERAL]",
                               "[U]",
                               "1",
                               "12",
                               "5",
                               "=",
                               " = ",
                               "41",
                               ",S",
                               ",a",
                               ",",
                               "#",
                               "##",
                               "COM",
                               "KEYTABLE = T",
                               "\n",
                               "\r\n",
                               "\r",
                               " ",
                               "\t",
                               "ERROR",
                               "\xC3\xA9",
                               "\xFF",
                               "\xF0\x9F\x98\x80",
                               "[",
                               "]",
                               "0x",
                               "255",
                               "none"};
    std::mt19937 random(7);
    for (int round = 0; round < 60; ++round) {
        std::string bytes = round % 2 == 0 ? "[T]\n" : "\xEF\xBB\xBF[T]\r\n";
        int count = 20 + static_cast<int>(random() % 200);
        for (int i = 0; i < count; ++i) {
            bytes += fragments[random() % (sizeof fragments / sizeof fragments[0])];
        }
        if (round % 5 == 0) bytes += "\n2" + std::string(300, 'x') + "=3\n";
        std::u16string ini = Write("arbitrary.ini", bytes);
        int status = Run({u"check", ini, u"T", u"U"});
        EXPECT_NE(status, kInternalError) << io_.err;
        EXPECT_THAT(io_.err, Not(HasSubstr("internal error"))) << io_.err;
    }
}

TEST_F(QuorvelIniTest, CheckNamesThePieceOfALongLine) {
    // The second piece of an over-long comment line holds the digits of 5.
    std::string comment = "# " + std::string(270, 'x') + " see 5\n";
    std::string table = "[T]\n" + comment;
    for (int n = 0; n < kKeyTableSize; ++n) table += std::to_string(n) + " = none\n";
    std::u16string ini = Write("long.ini", table);
    EXPECT_EQ(Run({u"check", ini, u"T"}), 1);
    EXPECT_THAT(io_.out, HasSubstr("line 2, part 2: [T] byte 5 is read from this line"));
    EXPECT_THAT(io_.out, HasSubstr("line 8: [T] key line \"5 = none\" is never read"));
}

TEST_F(QuorvelIniTest, CheckOfAMissingFileOrSection) {
    EXPECT_EQ(Run({u"check", Write("x", "") + u"-missing"}), 1);
    EXPECT_THAT(io_.err, HasSubstr("cannot open"));
    std::u16string ini = Write("empty.ini", "[GENERAL]\nKEYTABLE = T\n[T]\n");
    EXPECT_EQ(Run({u"check", ini, u"Nowhere"}), 1);
    EXPECT_THAT(io_.out, HasSubstr("[Nowhere] no line contains \"[Nowhere]\""));
}

TEST_F(QuorvelIniTest, ReadCountIsTheDestinationCapacity) {
    std::u16string ini = Write("r.ini", "[S]\nK = abcdef\n");
    EXPECT_EQ(Run({u"read", ini, u"S", u"K", u"4"}), 0);
    EXPECT_EQ(io_.out, "abc\n");
    EXPECT_EQ(Run({u"read", ini, u"S", u"K", u"1"}), 0);
    EXPECT_EQ(io_.out, "\n");
    // Beyond what any line can hold, a larger buffer changes nothing.
    EXPECT_EQ(Run({u"read", ini, u"S", u"K", u"4294967295"}), 0);
    EXPECT_EQ(io_.out, "abcdef\n");
    EXPECT_EQ(Run({u"read", ini, u"S", u"K", u"4294967296"}), kUsageError);
    EXPECT_EQ(Run({u"read", ini, u"S", u"K", u"-1"}), kUsageError);
    EXPECT_EQ(Run({u"read", ini, u"S", u"K", u""}), kUsageError);
}

TEST_F(QuorvelIniTest, KeytableLoadsOverEarlierSectionsAndFromZero) {
    std::u16string ini = Write("k.ini", "[A]\n200 = 41,S\n[B]\n201 = 42\n");
    EXPECT_EQ(Run({u"keytable", ini, u"A", u"B"}), 0);
    EXPECT_THAT(io_.out,
                HasSubstr("\n200 vk=0x0041 shift=1 altgr=0\n201 vk=0x0042 shift=0 altgr=0\n"));
    // Each run starts from an empty table, not from the previous run's.
    EXPECT_EQ(Run({u"keytable", ini, u"B"}), 0);
    EXPECT_THAT(io_.out, HasSubstr("\n200 vk=0x0000 shift=0 altgr=0\n"));
}

// Where a section really starts and which lines the list and GENERAL take:
// the mistakes that make a whole table or setting silently go elsewhere.
TEST_F(QuorvelIniTest, CheckFindsSectionsAndGeneralKeysInTheWrongPlace) {
    std::string table;
    for (int n = 0; n < kKeyTableSize; ++n) table += std::to_string(n) + " = none\n";
    std::u16string ini = Write("places.ini",
                               "[GENERAL]\n"
                               "COM = 1\n"
                               "# the table is [T], further down\n"
                               "[T]\n" +
                                   table +
                                   "[T]\n"
                                   "[U] # not GENERAL\n"
                                   "# DATA sheet of the scanner\n");
    EXPECT_EQ(Run({u"check", ini, u"T"}), 1);
    EXPECT_THAT(io_.out,
                HasSubstr("line 3: [T] the section starts at this line \"# the table is [T], "
                          "further down\""));
    EXPECT_THAT(io_.out, HasSubstr("line 3: this line contains \"[\", so the section list takes it "
                                   "for a section named \"#T\""));
    EXPECT_THAT(io_.out, Not(HasSubstr("line 4:")));  // the header the user meant
    // Without GENERAL the program loads no table; a named table alone is fine.
    const std::u16string bare = Write("bare.ini", "[T]\n" + table);
    EXPECT_EQ(Run({u"check", bare}), 1);
    EXPECT_THAT(io_.out, HasSubstr("no line contains \"[GENERAL]\""));
    EXPECT_EQ(Run({u"check", bare, u"T"}), 0) << io_.out;
    EXPECT_EQ(Run({u"check", ini, u"T"}), 1);
    EXPECT_THAT(io_.out, HasSubstr("line 261: [T] a second header of this section"));
    EXPECT_THAT(io_.out, HasSubstr("line 262: section \"U\" is not offered: its header line "
                                   "contains GENERAL"));
    EXPECT_THAT(io_.out, HasSubstr("line 263: [GENERAL] DATA is read from this line \"# DATA sheet "
                                   "of the scanner\", which is not its key line (a line of a later "
                                   "section)\n"));
    EXPECT_THAT(io_.out, HasSubstr("[GENERAL] no KEYTABLE line, so KEYTABLE names \"ERROR\""));
    // Lines before the real header are no part of the table, so nothing
    // else is wrong with it.
    EXPECT_THAT(io_.out, Not(HasSubstr("byte")));
}

TEST_F(QuorvelIniTest, ShowNamesBytesAndKeys) {
    std::u16string ini = Write("show.ini",
                               "[T]\n128 = 45,AltGr\n129 = 41\n160 = 20\n65 = 141,Shift\n"
                               "35 = 33,Shift\n");
    EXPECT_EQ(Run({u"show", ini, u"T"}), 0);
    EXPECT_THAT(io_.out, HasSubstr("128 0x80 \u20ac           VK_E 0x45 AltGr\n"));
    EXPECT_THAT(io_.out, HasSubstr("129 0x81 (undefined) VK_A 0x41 plain\n"));
    EXPECT_THAT(io_.out, HasSubstr("160 0xA0 NBSP        VK_SPACE 0x20 plain\n"));
    // Only the low byte of a larger code reaches the keyboard.
    EXPECT_THAT(io_.out, HasSubstr(" 65 0x41 A           VK_A 0x0141 Shift\n"));
    EXPECT_THAT(io_.out, HasSubstr(" 35 0x23 #           VK_3 0x33 Shift\n"));
    EXPECT_EQ(Run({u"show", ini, u"Absent"}), 0);
    EXPECT_THAT(io_.out, IsEmpty());
    EXPECT_THAT(io_.err, HasSubstr("gives no byte a key"));
}

// Every mistake in a list is reported with its line, not just the first.
TEST_F(QuorvelIniTest, GeneratorReportsEachBadListLine) {
    std::u16string list = Write("bad.list",
                                "# comment\n"
                                "ab VK_A\n"
                                "@ VK_NOPE altgr\n"
                                "\xE2\x82\xAC 0x45 altgr\n"
                                "U+4E00 VK_A\n"
                                "x VK_X ctrl\n"
                                "y VK_Y\r\n"
                                "y VK_Z\n"
                                "0x100 VK_A\n"
                                "z 0x1FF\n"
                                "q\n");
    EXPECT_EQ(Run({u"generate", u"T", list}), 1);
    EXPECT_THAT(io_.out, IsEmpty());
    for (const char* expected :
         {"list line 2: 'ab' is not one character", "list line 3: 'VK_NOPE' is not a virtual-key",
          "list line 5: 'U+4E00' has no byte in Windows-1252",
          "list line 6: 'ctrl' is not shift or altgr",
          "list line 8: byte 121 is already given on list line 7",
          "list line 9: '0x100' is not a byte value",
          "list line 10: '0x1FF' is not a virtual-key code",
          "list line 11: expected CHARACTER KEY"}) {
        EXPECT_THAT(io_.err, HasSubstr(expected));
    }
    EXPECT_THAT(io_.err, Not(HasSubstr("list line 4")));
}

}  // namespace

namespace {

// What a user can hand the tool that the program could not read as meant: a
// value longer than a line the program reads, a line already that long, a
// folder in place of the file.
TEST_F(QuorvelIniTest, HostileInputIsNamedAndNeverWritten) {
    const std::string original = "[GENERAL]\nCOM = 1\nKEYTABLE = Active keyboard layout\n";
    const std::u16string file = Write("long.ini", original);
    const std::u16string huge(70000, u'v');
    EXPECT_EQ(Run({u"write", file, u"GENERAL", u"COM", huge}), kUsageError);
    EXPECT_THAT(io_.err, HasSubstr("259"));
    std::ifstream in(dir_ / "long.ini", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), original);

    // A line that is already too long: its second piece is reported.
    const std::u16string stray =
        Write("stray.ini", original + "COMMENT = " + std::string(300, 'x') + "\n");
    EXPECT_EQ(Run({u"check", stray}), 1);
    EXPECT_THAT(io_.out, HasSubstr("line 4: longer than the 259 characters"));

    fs::create_directory(dir_ / "folder.ini");
    const std::u16string folderPath = FromUtf8((dir_ / "folder.ini").string());
    EXPECT_EQ(Run({u"write", folderPath, u"GENERAL", u"COM", u"2"}), 1);
    EXPECT_THAT(io_.err, HasSubstr("is a directory"));
    EXPECT_EQ(Run({u"check", folderPath}), 1);
    EXPECT_THAT(io_.err, HasSubstr("is a directory"));
}

}  // namespace
