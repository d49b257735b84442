// The keyboard table: for every byte value the scanner can send, the virtual
// key to type and whether Shift or AltGr is held for it.
#pragma once

#include <cstdint>

struct KeyTableEntry {
    std::int32_t shift;        // 1: Shift is held while the key is typed
    std::int32_t altGr;        // 1: AltGr (Control + left Alt) is held
    std::uint16_t virtualKey;  // 0: the byte produces no key
};

inline constexpr int kKeyTableSize = 256;

// The keyboard table in use, indexed by the received byte value; all zero at
// program start (no byte produces a key).
extern KeyTableEntry KeyTable[kKeyTableSize];

// Fills KeyTable from the section named by SerialSettings.keyTableName in the
// settings file at SettingsFilePath. Entries the section does not define keep
// their earlier values; the name of the active keyboard layout reads nothing.
// Reads the file once, yet gives what 256 separate ReadSettingValue calls, one
// per byte value, would give. Then tells the platform what each entry types
// (PassKeyHints).
void LoadKeyTable();

// Hands the platform one hint per entry of KeyTable that types a key: the key,
// its Shift and AltGr, and the Windows-1252 character of the entry's byte.
void PassKeyHints();

// Applies the value read for one byte (the absent marker when there was
// none) to its entry. `value` is used as scratch space.
void ApplyKeyValue(KeyTableEntry& entry, char16_t* value);

// The byte values 0 to 255 whose decimal text occurs in `text` (the lookup
// rule of LineHasKey) and that `settled` does not hold yet: they are written to
// `keys`, marked settled, and counted. A piece's claims in file order give
// each byte the line its lookup stops at.
int TakeKeysFoundIn(const char16_t* text, bool* settled, std::uint8_t* keys);
