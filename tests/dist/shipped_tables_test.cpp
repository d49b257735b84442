// The shipped keyboard tables as the program itself loads them: the real
// settings engine and table loader reading dist/QuorvelCE.INI.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "keymap/key_table.h"
#include "settings/general_settings.h"
#include "settings/settings_file.h"
#include "tests/settings/key_reads_oracle.h"

namespace {

constexpr std::uint16_t kNoModifier = 0, kShift = 1, kAltGr = 2;

struct Expected {
    unsigned char byte;
    std::uint16_t virtualKey;
    std::uint16_t modifier;
};

void CopyText(char16_t* destination, int capacity, const std::string& text) {
    int i = 0;
    for (; i < capacity - 1 && i < static_cast<int>(text.size()); ++i) {
        destination[i] =
            static_cast<char16_t>(static_cast<unsigned char>(text[static_cast<std::size_t>(i)]));
    }
    destination[i] = u'\0';
}

class ShippedTables : public ::testing::Test {
  protected:
    void SetUp() override {
        std::memset(&SerialSettings, 0, sizeof SerialSettings);
        std::memset(KeyTable, 0, sizeof KeyTable);
        CopyText(SettingsFilePath, kTextCapacity, QUORVEL_SHIPPED_SETTINGS_FILE);
    }

    static void Load(const std::string& table) {
        CopyText(SerialSettings.keyTableName, kSectionNameCapacity, table);
        LoadKeyTable();
    }

    static void ExpectKeys(const std::string& table, std::initializer_list<Expected> keys) {
        for (const Expected& key : keys) {
            const KeyTableEntry& entry = KeyTable[key.byte];
            SCOPED_TRACE(table + ", byte " + std::to_string(key.byte));
            EXPECT_EQ(key.virtualKey, entry.virtualKey);
            EXPECT_EQ(key.modifier == kShift ? 1 : 0, entry.shift);
            EXPECT_EQ(key.modifier == kAltGr ? 1 : 0, entry.altGr);
        }
    }
};

// The US layout is small enough to state whole: every printable ASCII character.
TEST_F(ShippedTables, UsEnglishTypesEveryPrintableAsciiCharacter) {
    Load("US English");
    const char* const digitsShifted = ")!@#$%^&*(";
    for (int i = 0; i < 10; ++i) {
        ExpectKeys("US English", {{static_cast<unsigned char>('0' + i),
                                   static_cast<std::uint16_t>(0x30 + i), kNoModifier},
                                  {static_cast<unsigned char>(digitsShifted[i]),
                                   static_cast<std::uint16_t>(0x30 + i), kShift}});
    }
    for (int i = 0; i < 26; ++i) {
        ExpectKeys("US English", {{static_cast<unsigned char>('a' + i),
                                   static_cast<std::uint16_t>(0x41 + i), kNoModifier},
                                  {static_cast<unsigned char>('A' + i),
                                   static_cast<std::uint16_t>(0x41 + i), kShift}});
    }
    ExpectKeys("US English",
               {{' ', 0x20, kNoModifier},  {'`', 0xC0, kNoModifier}, {'~', 0xC0, kShift},
                {'-', 0xBD, kNoModifier},  {'_', 0xBD, kShift},      {'=', 0xBB, kNoModifier},
                {'+', 0xBB, kShift},       {'[', 0xDB, kNoModifier}, {'{', 0xDB, kShift},
                {']', 0xDD, kNoModifier},  {'}', 0xDD, kShift},      {'\\', 0xDC, kNoModifier},
                {'|', 0xDC, kShift},       {';', 0xBA, kNoModifier}, {':', 0xBA, kShift},
                {'\'', 0xDE, kNoModifier}, {'"', 0xDE, kShift},      {',', 0xBC, kNoModifier},
                {'<', 0xBC, kShift},       {'.', 0xBE, kNoModifier}, {'>', 0xBE, kShift},
                {'/', 0xBF, kNoModifier},  {'?', 0xBF, kShift}});
    for (int byte = 0x20; byte < 0x7F; ++byte) {
        EXPECT_NE(0, KeyTable[byte].virtualKey) << "byte " << byte;
    }
    for (int byte = 0x80; byte < 0x100; ++byte) {
        EXPECT_EQ(0, KeyTable[byte].virtualKey) << "byte " << byte;
    }
}

TEST_F(ShippedTables, OtherLayoutsPutCharactersOnTheirOwnKeys) {
    Load("UK English");
    ExpectKeys("UK English", {{'"', 0x32, kShift},
                              {'@', 0xC0, kShift},
                              {'\'', 0xC0, kNoModifier},
                              {'#', 0xDE, kNoModifier},
                              {'~', 0xDE, kShift},
                              {'\\', 0xDC, kNoModifier},
                              {'`', 0xDF, kNoModifier},
                              {0xAC, 0xDF, kShift},
                              {0xA6, 0xDF, kAltGr},
                              {0xA3, 0x33, kShift},
                              {0x80, 0x34, kAltGr},
                              {0xE9, 0x45, kAltGr},
                              {0xC9, 0, kNoModifier}});  // É needs Shift and AltGr together

    Load("French AZERTY");
    ExpectKeys("French AZERTY", {{'a', 0x41, kNoModifier},
                                 {'q', 0x51, kNoModifier},
                                 {'1', 0x31, kShift},
                                 {'2', 0x32, kShift},
                                 {0xE9, 0x32, kNoModifier},
                                 {'&', 0x31, kNoModifier},
                                 {'@', 0x30, kAltGr},
                                 {'^', 0x39, kAltGr},
                                 {'!', 0xDF, kNoModifier},
                                 {';', 0xBE, kNoModifier},
                                 {'.', 0xBE, kShift},
                                 {'<', 0xE2, kNoModifier},
                                 {0x80, 0x45, kAltGr},
                                 {0xB2, 0xDE, kNoModifier},
                                 {'~', 0, kNoModifier},
                                 {'`', 0, kNoModifier},
                                 {0xA8, 0, kNoModifier}});

    Load("German QWERTZ");
    ExpectKeys("German QWERTZ", {{'y', 0x59, kNoModifier},
                                 {'z', 0x5A, kNoModifier},
                                 {0xDF, 0xDB, kNoModifier},
                                 {'?', 0xDB, kShift},
                                 {'\\', 0xDB, kAltGr},
                                 {'@', 0x51, kAltGr},
                                 {'~', 0xBB, kAltGr},
                                 {'|', 0xE2, kAltGr},
                                 {'#', 0xBF, kNoModifier},
                                 {'=', 0x30, kShift},
                                 {0xB5, 0x4D, kAltGr},
                                 {0xFC, 0xBA, kNoModifier},
                                 {'^', 0, kNoModifier},
                                 {0xB4, 0, kNoModifier},
                                 {'`', 0, kNoModifier}});
}

// Every table gives Enter to the carriage return and Tab to the tab, and
// nothing to the line feed, whatever table was loaded before it; the one-pass
// load and the load by 256 key reads agree on every shipped table.
TEST_F(ShippedTables, LineEndsAndAnEarlierTableDoNotLeak) {
    const char* const tables[] = {"US English", "UK English", "French AZERTY", "German QWERTZ"};
    for (const char* table : tables) {
        std::memset(KeyTable, 0, sizeof KeyTable);
        Load(table);
        KeyTableEntry fresh[kKeyTableSize];
        std::memcpy(fresh, KeyTable, sizeof fresh);
        ExpectKeys(table,
                   {{'\r', 0x0D, kNoModifier}, {'\t', 0x09, kNoModifier}, {'\n', 0, kNoModifier}});

        // Over a table of nonsense every entry must still come out as in a fresh load.
        for (void (*load)() : {&LoadKeyTable, &LoadKeyTableByKeyReads}) {
            for (KeyTableEntry& entry : KeyTable) entry = {1, 0, 0xBEEF};
            load();
            for (int byte = 0; byte < kKeyTableSize; ++byte) {
                const KeyTableEntry& entry = KeyTable[byte];
                EXPECT_TRUE(entry.virtualKey == fresh[byte].virtualKey &&
                            entry.shift == fresh[byte].shift && entry.altGr == fresh[byte].altGr)
                    << table << ", byte " << byte
                    << (load == &LoadKeyTable ? "" : ", by key reads");
            }
        }
    }
}

}  // namespace
