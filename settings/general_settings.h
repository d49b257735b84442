// The general settings: the one process-wide SerialSettings record, its
// loading with validation and defaults from GENERAL, and saving it back.
#pragma once

#include <cstdint>

#include "settings/settings_file.h"

inline constexpr int kMaxAvailablePorts = 10;

// The values BAUDRATE, PARITY and STOP may take, in the order the dialog
// offers them; a parity or stop-bits code is its position in the list.
inline constexpr const char16_t* kBaudRateTexts[] = {
    u"256000", u"128000", u"115200", u"57600", u"56000", u"38400", u"19200", u"14400",
    u"9600",   u"4800",   u"2400",   u"1200",  u"600",   u"300",   u"110"};
inline constexpr const char16_t* kParityTexts[] = {u"NONE", u"ODD", u"EVEN", u"MARK", u"SPACE"};
inline constexpr const char16_t* kStopBitsTexts[] = {u"1", u"1.5", u"2"};

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
};

// All zero at program start.
extern SerialSettingsRecord SerialSettings;

// The ports the dialog offers: always 1 to 10.
extern std::int32_t AvailablePorts[kMaxAvailablePorts];
extern std::int32_t AvailablePortCount;

// Set by LoadGeneralSettings when the settings file exists but could not be
// read: the values in use are then defaults, not the user's, and saving them
// would overwrite the user's settings, so SaveSettings writes nothing.
extern bool GeneralSettingsUnreadable;

// What LoadGeneralSettings makes of `text`, the value read for one of the
// GENERAL keys STROKE_DELAY, COM, BAUDRATE, PARITY, DATA and STOP: the value
// it takes (the field's own number), and whether that is the key's default
// because `text` is absent or invalid. One home for the rule, shared with the
// tools that check a file. COM relies on the available ports.
struct GeneralValue {
    std::uint32_t value;
    bool defaulted;
};
GeneralValue InterpretGeneralValue(const char16_t* key, const char16_t* text);

void ListAvailablePorts(std::int32_t* ports, std::int32_t* count);
void LoadGeneralSettings();
// Writes COM, DATA, KEYTABLE, BAUDRATE, PARITY and STOP back to GENERAL
// (nothing when the load could not read the file).
void SaveSettings();
