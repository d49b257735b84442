// The general settings: the one process-wide SerialSettings record, its
// loading with validation and defaults from GENERAL, and saving it back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "settings/settings_file.h"

// The Port list always offers 1 to 10; ports present above them follow, up
// to COM256, so the list holds at most 256 numbers.
inline constexpr int kAlwaysListedPorts = 10;
inline constexpr int kMaxAvailablePorts = 256;

// The values BAUDRATE, DATA, PARITY and STOP may take, in the order the
// dialog offers them; a parity or stop-bits code is its position in the list.
inline constexpr const char16_t* kBaudRateTexts[] = {
    u"256000", u"128000", u"115200", u"57600", u"56000", u"38400", u"19200", u"14400",
    u"9600",   u"4800",   u"2400",   u"1200",  u"600",   u"300",   u"110"};
inline constexpr const char16_t* kDataBitsTexts[] = {u"8", u"7", u"6", u"5"};
inline constexpr const char16_t* kParityTexts[] = {u"NONE", u"ODD", u"EVEN", u"MARK", u"SPACE"};
inline constexpr const char16_t* kStopBitsTexts[] = {u"1", u"1.5", u"2"};
// SCAN_AIM: whether a leading symbology identifier ("]C1") is kept or dropped.
inline constexpr const char16_t* kScanAimTexts[] = {u"KEEP", u"STRIP"};

// How many replacement rules GENERAL holds (SCAN_REPLACE_A to _E).
inline constexpr int kScanReplaceCount = 5;

// SEND_MODE: how keystrokes go to Windows, by position: KEYS a virtual key
// with its scan code (without the key, as before it existed); UNICODE each
// character as itself, which remote sessions pass on whatever their keyboard
// layout; SCANCODES keys by scan code alone, all a virtual machine's console
// takes.
inline constexpr const char16_t* kSendModeTexts[] = {u"KEYS", u"UNICODE", u"SCANCODES"};
enum class SendMode : std::uint16_t { kKeys, kUnicode, kScanCodes };

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
    std::uint16_t sendMode;  // a SendMode
    // How each scan is shaped (GENERAL's SCAN_ keys): the texts as read, the
    // absent marker when a key is absent; the reception thread parses them.
    std::uint16_t scanStripIdentifier;  // 0 keep, 1 strip
    char16_t scanGs[kTextCapacity];
    char16_t scanPrefix[kTextCapacity];
    char16_t scanSuffix[kTextCapacity];
    char16_t scanReturn[kTextCapacity];
    char16_t scanReplace[kScanReplaceCount][kTextCapacity];
};

// All zero at program start.
extern SerialSettingsRecord SerialSettings;

// The ports the dialog offers, ascending: 1 to 10, the ports present above
// 10, and the loaded COM port, present or not.
extern std::int32_t AvailablePorts[kMaxAvailablePorts];
extern std::int32_t AvailablePortCount;

// Set by LoadGeneralSettings when the settings file exists but could not be
// read or used: the values in use are then defaults, not the user's, and
// saving them would overwrite the user's settings, so SaveSettings writes
// nothing.
extern bool GeneralSettingsUnreadable;
// What LoadGeneralSettings found the file to be, for the program to name a
// file it could not use.
extern SettingsFileDiagnosis LoadedSettingsFile;

// The GENERAL keys, in the order the load reads them.
enum class GeneralKey : std::uint8_t {
    kStrokeDelay,
    kCom,
    kBaudRate,
    kParity,
    kData,
    kStop,
    kKeyTable,
    kSendMode,
    kScanGs,
    kScanAim,
    kScanPrefix,
    kScanSuffix,
    kScanCr,
    kScanReplaceA,
    kScanReplaceB,
    kScanReplaceC,
    kScanReplaceD,
    kScanReplaceE,
};

// How a key's text becomes its value; a text that is absent or not accepted
// gives the key's default.
enum class GeneralRule : std::uint8_t {
    kAnyNumber,      // any number, never rejected (0 without digits)
    kAvailablePort,  // a port from 1 to kHighestComPort; the default is the first available one
    kListedNumber,   // a number that one of the choices spells
    kListPosition,   // the position of the text among the choices (letter case counts)
    kName,           // the text itself, cut to a section name
    kScanText,       // a text of the scan-shaping language, parsed when reception starts
    kScanReplace,    // a replacement "bytes=>text" of that language
};

// What a save writes for a key.
enum class GeneralSave : std::uint8_t {
    kNever,    // nothing: only the file sets it
    kDecimal,  // the value's number, accepted or not
    kChoice,   // the value's text among the choices, nothing when it has none
    kName,     // the keyboard table's name
};

// One GENERAL key: the one home of its name, default and rules, shared by the
// load, the save, the dialog's lists and the tools that check a file.
struct GeneralSetting {
    GeneralKey id;
    const char16_t* key;
    GeneralRule rule;
    GeneralSave save;
    std::uint32_t defaultValue;
    const char16_t* const* choices;
    std::size_t choiceCount;
    // The field it loads into: 16 bits (a number counts by its low 16 bits),
    // or 32 for the baud rate. Neither for KEYTABLE.
    std::uint16_t SerialSettingsRecord::*field16;
    std::uint32_t SerialSettingsRecord::*field32;
    // Where a scan-shaping text is kept, as read.
    char16_t (SerialSettingsRecord::*text)[kTextCapacity] = nullptr;
    // A replacement's slot in scanReplace.
    int replaceSlot = -1;
};

inline constexpr GeneralSetting kGeneralSettings[] = {
    {GeneralKey::kStrokeDelay, u"STROKE_DELAY", GeneralRule::kAnyNumber, GeneralSave::kNever, 1,
     nullptr, 0, &SerialSettingsRecord::strokeDelay, nullptr},
    {GeneralKey::kCom, u"COM", GeneralRule::kAvailablePort, GeneralSave::kDecimal, 0, nullptr, 0,
     &SerialSettingsRecord::port, nullptr},
    {GeneralKey::kBaudRate, u"BAUDRATE", GeneralRule::kListedNumber, GeneralSave::kChoice, 9600,
     kBaudRateTexts, std::size(kBaudRateTexts), nullptr, &SerialSettingsRecord::baudRate},
    {GeneralKey::kParity, u"PARITY", GeneralRule::kListPosition, GeneralSave::kChoice, 0,
     kParityTexts, std::size(kParityTexts), &SerialSettingsRecord::parity, nullptr},
    {GeneralKey::kData, u"DATA", GeneralRule::kListedNumber, GeneralSave::kDecimal, 8,
     kDataBitsTexts, std::size(kDataBitsTexts), &SerialSettingsRecord::dataBits, nullptr},
    {GeneralKey::kStop, u"STOP", GeneralRule::kListPosition, GeneralSave::kChoice, 0,
     kStopBitsTexts, std::size(kStopBitsTexts), &SerialSettingsRecord::stopBits, nullptr},
    {GeneralKey::kKeyTable, u"KEYTABLE", GeneralRule::kName, GeneralSave::kName, 0, nullptr, 0,
     nullptr, nullptr},
    {GeneralKey::kSendMode, u"SEND_MODE", GeneralRule::kListPosition, GeneralSave::kNever, 0,
     kSendModeTexts, std::size(kSendModeTexts), &SerialSettingsRecord::sendMode, nullptr},
    // Scan shaping. Each name contains no other key's name and lies in none,
    // so that a key line is never taken for another key's.
    {GeneralKey::kScanGs, u"SCAN_GS", GeneralRule::kScanText, GeneralSave::kNever, 0, nullptr, 0,
     nullptr, nullptr, &SerialSettingsRecord::scanGs},
    {GeneralKey::kScanAim, u"SCAN_AIM", GeneralRule::kListPosition, GeneralSave::kNever, 0,
     kScanAimTexts, std::size(kScanAimTexts), &SerialSettingsRecord::scanStripIdentifier, nullptr},
    {GeneralKey::kScanPrefix, u"SCAN_PREFIX", GeneralRule::kScanText, GeneralSave::kNever, 0,
     nullptr, 0, nullptr, nullptr, &SerialSettingsRecord::scanPrefix},
    {GeneralKey::kScanSuffix, u"SCAN_SUFFIX", GeneralRule::kScanText, GeneralSave::kNever, 0,
     nullptr, 0, nullptr, nullptr, &SerialSettingsRecord::scanSuffix},
    {GeneralKey::kScanCr, u"SCAN_CR", GeneralRule::kScanText, GeneralSave::kNever, 0, nullptr, 0,
     nullptr, nullptr, &SerialSettingsRecord::scanReturn},
    {GeneralKey::kScanReplaceA, u"SCAN_REPLACE_A", GeneralRule::kScanReplace, GeneralSave::kNever,
     0, nullptr, 0, nullptr, nullptr, nullptr, 0},
    {GeneralKey::kScanReplaceB, u"SCAN_REPLACE_B", GeneralRule::kScanReplace, GeneralSave::kNever,
     0, nullptr, 0, nullptr, nullptr, nullptr, 1},
    {GeneralKey::kScanReplaceC, u"SCAN_REPLACE_C", GeneralRule::kScanReplace, GeneralSave::kNever,
     0, nullptr, 0, nullptr, nullptr, nullptr, 2},
    {GeneralKey::kScanReplaceD, u"SCAN_REPLACE_D", GeneralRule::kScanReplace, GeneralSave::kNever,
     0, nullptr, 0, nullptr, nullptr, nullptr, 3},
    {GeneralKey::kScanReplaceE, u"SCAN_REPLACE_E", GeneralRule::kScanReplace, GeneralSave::kNever,
     0, nullptr, 0, nullptr, nullptr, nullptr, 4},
};

// The engine finds a key in the first line that contains its name: no name
// may lie inside another.
static_assert([] {
    for (const GeneralSetting& a : kGeneralSettings)
        for (const GeneralSetting& b : kGeneralSettings) {
            if (&a == &b) continue;
            for (const char16_t* p = a.key; *p != 0; ++p) {
                std::size_t i = 0;
                while (b.key[i] != 0 && p[i] == b.key[i]) ++i;
                if (b.key[i] == 0) return false;
            }
        }
    return true;
}());

// GeneralSettingOf finds a key at its enumerator's position.
static_assert([] {
    for (std::size_t i = 0; i < std::size(kGeneralSettings); ++i)
        if (static_cast<std::size_t>(kGeneralSettings[i].id) != i) return false;
    return true;
}());

// The order a save writes the keys in: each write finds its line anew, so
// the order decides which line a key whose name another line holds replaces.
inline constexpr GeneralKey kGeneralSaveOrder[] = {GeneralKey::kCom,      GeneralKey::kData,
                                                   GeneralKey::kKeyTable, GeneralKey::kBaudRate,
                                                   GeneralKey::kParity,   GeneralKey::kStop};

constexpr const GeneralSetting& GeneralSettingOf(GeneralKey id) {
    return kGeneralSettings[static_cast<std::size_t>(id)];
}

// Where a scan-shaping key's text is kept in `record`, or null for other keys.
inline char16_t* ScanSettingText(SerialSettingsRecord& record, const GeneralSetting& setting) {
    if (setting.text != nullptr) return record.*setting.text;
    if (setting.replaceSlot >= 0) return record.scanReplace[setting.replaceSlot];
    return nullptr;
}

// What the load makes of `text`, the value read for `setting`: the value its
// field takes, and whether that is the default because `text` is absent or
// not accepted. A name is taken as it is. kAvailablePort relies on the
// available ports.
struct GeneralValue {
    std::uint32_t value;
    bool defaulted;
};
GeneralValue InterpretGeneralValue(const GeneralSetting& setting, const char16_t* text);
// The text a save writes for `value` (`buffer` may hold it), or null when it
// writes none. Not for a name.
const char16_t* GeneralValueText(const GeneralSetting& setting, std::uint32_t value,
                                 char16_t (&buffer)[kTextCapacity]);

void ListAvailablePorts(std::int32_t* ports, std::int32_t* count);
// Adds `port` (1 to kHighestComPort) to AvailablePorts in its place, once.
void IncludeAvailablePort(std::int32_t port);
void LoadGeneralSettings();
// Writes the saved keys back to GENERAL in kGeneralSaveOrder (nothing when
// the load could not read the file). A settings path that could not be formed
// is reported as a failed save (kErrorFilenameTooLong).
void SaveSettings();
// Set by SaveSettings: the GENERAL keys a read takes from a line that is not
// the key's own (SCAN_PREFIX=DATA: above DATA's line is read as DATA), each
// with its line and whether its save was skipped so as not to replace that
// line; empty when every key is read from its own line.
extern char16_t MisreadGeneralKeys[platform::kReportCapacity];
