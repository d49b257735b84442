// Loading the keyboard table: value forms, reloading over an earlier table,
// and the one-pass load agreeing with 256 separate key reads.
#include <cstdio>
#include <random>

#include "keymap/key_table.h"
#include "tests/settings/key_reads_oracle.h"
#include "tests/settings/settings_test_support.h"

using namespace settings_test;

namespace {

class KeyTableTest : public SettingsFileTest {
  protected:
    void SetUp() override {
        SettingsFileTest::SetUp();
        platform::StrCopy(SettingsFilePath, kTextCapacity, file_.c_str());
    }
    void Use(const char16_t* section) {
        platform::StrCopy(SerialSettings.keyTableName, kSectionNameCapacity, section);
    }
    // Loads both ways from the same starting table and checks they agree.
    void LoadBothWays() {
        KeyTableEntry before[kKeyTableSize];
        std::copy(std::begin(KeyTable), std::end(KeyTable), before);
        LoadKeyTableByKeyReads();
        KeyTableEntry expected[kKeyTableSize];
        std::copy(std::begin(KeyTable), std::end(KeyTable), expected);
        std::copy(before, before + kKeyTableSize, KeyTable);
        LoadKeyTable();
        for (int n = 0; n < kKeyTableSize; ++n) {
            const KeyTableEntry& got = KeyTable[n];
            ASSERT_TRUE(got.virtualKey == expected[n].virtualKey &&
                        got.shift == expected[n].shift && got.altGr == expected[n].altGr)
                << "byte " << n << ": " << got.virtualKey << "/" << got.shift << "/" << got.altGr
                << " instead of " << expected[n].virtualKey << "/" << expected[n].shift << "/"
                << expected[n].altGr;
        }
    }
    const KeyTableEntry& Entry(int n) const { return KeyTable[n]; }
};

void ExpectEntry(const KeyTableEntry& e, std::uint16_t vk, int shift, int altGr) {
    EXPECT_EQ(e.virtualKey, vk);
    EXPECT_EQ(e.shift, shift);
    EXPECT_EQ(e.altGr, altGr);
}

}  // namespace

TEST_F(KeyTableTest, ValueForms) {
    // Bytes well apart so that no line holds another byte's digits.
    Put("[T]\n"
        "65 = 41\n"        // plain hex
        "66 = 0x42\n"      // 0x prefix
        "67 = 1A2B3C\n"    // low 16 bits
        "68 = zz\n"        // no digits
        "69 = 7, Shift\n"  // Shift
        "70 = 8 ,alt\n"    // AltGr
        "71 = 9, x\n"      // other letter: cleared
        "72 = 4,\n"        // nothing after ",": modifiers stay
        "73 = ,s\n"        // nothing before ",": entry stays
        "74 = ERROR\n"     // absent marker
        "#75 = 41\n"       // "#" stays in front: parses as 0
        "76 = A\n");       // one digit
    for (int n = 65; n <= 76; ++n) KeyTable[n] = {1, 0, 0x99};
    Use(u"T");
    LoadKeyTable();
    ExpectEntry(Entry(65), 0x41, 0, 0);
    ExpectEntry(Entry(66), 0x42, 0, 0);
    ExpectEntry(Entry(67), 0x2B3C, 0, 0);
    ExpectEntry(Entry(68), 0, 0, 0);
    ExpectEntry(Entry(69), 7, 1, 0);
    ExpectEntry(Entry(70), 8, 0, 1);
    ExpectEntry(Entry(71), 0, 0, 0);
    ExpectEntry(Entry(72), 4, 1, 0);
    ExpectEntry(Entry(73), 0x99, 1, 0);
    ExpectEntry(Entry(74), 0x99, 1, 0);
    ExpectEntry(Entry(75), 0, 0, 0);
    ExpectEntry(Entry(76), 0xA, 0, 0);
    ExpectEntry(Entry(0), 0x42, 0, 0);  // "0x42" is the first line holding a "0"
}

TEST_F(KeyTableTest, ReloadKeepsWhatTheNewSectionLacks) {
    Put("[A]\n200 = 41, s\n201 = 42\n[B]\n201 = 43, a\n");
    Use(u"A");
    LoadKeyTable();
    Use(u"B");
    LoadKeyTable();
    ExpectEntry(Entry(200), 0x41, 1, 0);
    ExpectEntry(Entry(201), 0x43, 0, 1);
}

TEST_F(KeyTableTest, MissingSectionOrFileLeavesTheTableAlone) {
    Put("[GENERAL]\nCOM = 1\n[T]\n65 = 41\n");
    Use(u"ERROR");
    LoadKeyTable();
    for (int n = 0; n < kKeyTableSize; ++n) ExpectEntry(Entry(n), 0, 0, 0);
    std::filesystem::remove(FsPath("QuorvelCE.INI"));
    Use(u"T");
    LoadKeyTable();
    ExpectEntry(Entry(65), 0, 0, 0);
}

TEST_F(KeyTableTest, EarlierLinesHoldingTheDigitsWin) {
    // Byte 1 stops at byte 0's line; byte 5 at any line with a 5; a line
    // without "=" makes the key absent though a later line would match.
    Put("[T]\n0 = 15\n2 = 20\n# 3 is special\n3 = 33\n[U]\n4 = 44\n");
    KeyTable[3] = {0, 1, 0x77};
    Use(u"T");
    LoadBothWays();
    ExpectEntry(Entry(1), 0x15, 0, 0);
    ExpectEntry(Entry(5), 0x15, 0, 0);
    ExpectEntry(Entry(3), 0x77, 0, 1);
    ExpectEntry(Entry(4), 0x44, 0, 0);  // past the next section
    ExpectEntry(Entry(15), 0x15, 0, 0);
    ExpectEntry(Entry(150), 0, 0, 0);
}

TEST_F(KeyTableTest, OnePassLoadAgreesWithSeparateReadsOnTrickyFiles) {
    // Random files built from the pieces that the matching rules trip over:
    // digits everywhere, headers in values and comments, repeated and nested
    // headers, "=" and "," in odd places, lines split at 259 units, CR LF.
    std::mt19937 random(20261209);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const char* fragments[] = {"=",     ",",  "#",    " ",  "  ", "[T]",   "[U]", "[T",
                               "T]",    "s",  "A",    "x",  "0x", "ERROR", "\t",  "\r",
                               "Shift", ",a", ", s ", "##", "=,", "1F",    "-",   "\xE9"};
    for (int file = 0; file < 300; ++file) {
        std::string text = pick(4) == 0 ? "\xEF\xBB\xBF" : "";
        const char* end = pick(2) == 0 ? "\n" : "\r\n";
        int lines = 1 + pick(40);
        for (int line = 0; line < lines; ++line) {
            int parts = pick(8);
            if (pick(10) == 0) text += std::string(static_cast<std::size_t>(200 + pick(120)), 'z');
            for (int p = 0; p < parts; ++p) {
                if (pick(2) == 0) {
                    text += std::to_string(pick(300));
                } else {
                    text += fragments[pick(static_cast<int>(std::size(fragments)))];
                }
            }
            text += end;
        }
        if (pick(3) == 0) text.pop_back();  // no line end at the end
        Put(text);
        for (auto& entry : KeyTable)
            entry = {pick(2), pick(2), static_cast<std::uint16_t>(pick(0x10000))};
        Use(pick(3) == 0 ? u"U" : u"T");
        LoadBothWays();
        if (HasFatalFailure()) {
            ADD_FAILURE() << "file " << file << ":\n" << text;
            return;
        }
    }
}

TEST_F(KeyTableTest, OnePassLoadAgreesOnAFullTableAndItsReload) {
    std::string text = "[GENERAL]\r\nKEYTABLE = B\r\n";
    for (const char* name : {"A", "B"}) {
        text += std::string("[") + name + "]\r\n";
        for (int n = 0; n < 256; n += (name[0] == 'A' ? 1 : 3)) {
            char line[64];
            std::snprintf(line, sizeof line, "%d = %X%s # byte %d\r\n", n, (n * 7) & 0xFF,
                          n % 5 == 0 ? ", Shift" : (n % 7 == 0 ? ",AltGr" : ""), n);
            text += line;
        }
    }
    Put(text);
    Use(u"A");
    LoadBothWays();
    Use(u"B");
    LoadBothWays();
    // Byte 0's own line comes first, so it takes its own value.
    EXPECT_EQ(Entry(0).virtualKey, 0);
    EXPECT_EQ(Entry(0).shift, 1);
}
