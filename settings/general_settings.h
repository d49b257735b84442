// The general settings: the one process-wide SerialSettings record, its
// loading with validation and defaults from GENERAL, and saving it back.
#pragma once

#include <cstdint>

#include "keymap/key_table.h"

inline constexpr int kSectionNameCapacity = 33;  // 32 characters and the terminator
inline constexpr int kMaxSettingSections = 10;
inline constexpr int kMaxAvailablePorts = 10;

struct SerialSettingsRecord {
    std::uint16_t strokeDelay;  // milliseconds after every key event; 0: no pause
    std::uint32_t baudRate;
    std::uint16_t parity;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint16_t stopBits;  // 0 one, 1 one and a half, 2 two
    std::uint16_t dataBits;  // 5 to 8
    std::uint16_t port;      // n of "COM%d:"
    char16_t keyTableName[kSectionNameCapacity];
    char16_t SettingSectionList[kMaxSettingSections][kSectionNameCapacity];
    std::uint16_t SettingSectionCount;
    KeyTableEntry keyTable[kKeyTableSize];
};

// All zero at program start.
extern SerialSettingsRecord SerialSettings;

// The ports the dialog offers: always 1 to 10.
extern std::int32_t AvailablePorts[kMaxAvailablePorts];
extern std::int32_t AvailablePortCount;

void ListAvailablePorts(std::int32_t* ports, std::int32_t* count);
// Computes SettingsFilePath, lists the sections, reads GENERAL, loads the table.
void LoadSettings();
void LoadGeneralSettings();
// Writes COM, DATA, KEYTABLE, BAUDRATE, PARITY and STOP back to GENERAL.
void SaveSettings();
