// The keyboard table: for every byte value the scanner can send, the virtual
// key to type and whether Shift or AltGr is held for it.
#pragma once

#include <cstdint>

struct KeyTableEntry {
    std::int32_t shift;       // 1: Shift is held while the key is typed
    std::int32_t altGr;       // 1: AltGr (Control + left Alt) is held
    std::uint16_t virtualKey; // 0: the byte produces no key
};

inline constexpr int kKeyTableSize = 256;

// Fills SerialSettings.keyTable from the section named by
// SerialSettings.keyTableName in the settings file at SettingsFilePath.
// Entries the section does not define keep their earlier values; the name of
// the active keyboard layout reads nothing. Reads the
// file once; the result is always that of LoadKeyTableByKeyReads.
void LoadKeyTable();

// The same load as 256 separate ReadSettingValue calls, one per byte value:
// the plain form that LoadKeyTable must agree with (for tests and benchmarks).
void LoadKeyTableByKeyReads();
