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
// their earlier values. Reads the file once, yet gives what 256 separate
// ReadSettingValue calls, one per byte value, would give. Then tells the
// platform what each entry types (PassKeyHints).
void LoadKeyTable();

// Hands the platform one hint per entry of KeyTable that types a key: the key,
// its Shift and AltGr, and the Windows-1252 character of the entry's byte.
void PassKeyHints();

// Applies the value read for one byte (the absent marker when there was
// none) to its entry. `value` is used as scratch space.
void ApplyKeyValue(KeyTableEntry& entry, char16_t* value);
