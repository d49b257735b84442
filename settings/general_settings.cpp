// The general settings: loading GENERAL with its validation and fixed
// defaults, and writing the user's choices back at each Start.
#include "settings/general_settings.h"

#include <iterator>

#include "keymap/key_table.h"
#include "platform/text.h"
#include "settings/settings_file.h"

SerialSettingsRecord SerialSettings;
std::int32_t AvailablePorts[kMaxAvailablePorts];
std::int32_t AvailablePortCount;

namespace {

constexpr const char16_t* kGeneral = u"GENERAL";
constexpr const char16_t* kAbsent = u"ERROR";

struct NamedValue {
    const char16_t* text;
    std::uint32_t value;
};

constexpr std::uint32_t kBaudRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                        19200, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr const char16_t* kBaudRateTexts[] = {u"110",   u"300",   u"600",    u"1200",   u"2400",
                                              u"4800",  u"9600",  u"14400",  u"19200",  u"38400",
                                              u"56000", u"57600", u"115200", u"128000", u"256000"};

// Compared in this order when reading; indexed by code when writing.
constexpr NamedValue kParityNames[] = {
    {u"NONE", 0}, {u"EVEN", 2}, {u"ODD", 1}, {u"SPACE", 4}, {u"MARK", 3}};
constexpr const char16_t* kParityTexts[] = {u"NONE", u"ODD", u"EVEN", u"MARK", u"SPACE"};
constexpr const char16_t* kStopTexts[] = {u"1", u"1.5", u"2"};

bool IsAbsent(const char16_t* value) {
    return platform::StrCmp(value, kAbsent) == 0;
}

void ReadGeneral(const char16_t* key, char16_t* value) {
    ReadSettingValue(kGeneral, key, kAbsent, value, kSettingTextCapacity, SettingsFilePath);
}

}  // namespace

void ListAvailablePorts(std::int32_t* ports, std::int32_t* count) {
    for (int i = 0; i < kMaxAvailablePorts; ++i) ports[i] = i + 1;
    *count = kMaxAvailablePorts;
}

void LoadSettings() {
    ComputeSettingsFilePath();
    SerialSettings.SettingSectionCount = 0;
    ListSettingSections(SettingsFilePath);
    LoadGeneralSettings();
    LoadKeyTable();
}

void LoadGeneralSettings() {
    char16_t value[kSettingTextCapacity];

    ReadGeneral(u"STROKE_DELAY", value);
    SerialSettings.strokeDelay =
        IsAbsent(value) ? 1 : static_cast<std::uint16_t>(platform::wtoi(value));

    ReadGeneral(u"COM", value);
    SerialSettings.port = static_cast<std::uint16_t>(AvailablePorts[0]);
    if (!IsAbsent(value)) {
        auto wanted = static_cast<std::uint16_t>(platform::wtoi(value));
        for (int i = 0; i < AvailablePortCount; ++i) {
            if (static_cast<std::int32_t>(wanted) == AvailablePorts[i]) {
                SerialSettings.port = wanted;
                break;
            }
        }
    }

    ReadGeneral(u"BAUDRATE", value);
    SerialSettings.baudRate = 9600;
    if (!IsAbsent(value)) {
        auto wanted = static_cast<std::uint32_t>(platform::wtoi(value));
        for (std::uint32_t rate : kBaudRates)
            if (wanted == rate) SerialSettings.baudRate = rate;
    }

    ReadGeneral(u"PARITY", value);
    SerialSettings.parity = 0;
    if (!IsAbsent(value)) {
        for (const NamedValue& name : kParityNames) {
            if (platform::StrCmp(value, name.text) == 0) {
                SerialSettings.parity = static_cast<std::uint16_t>(name.value);
                break;
            }
        }
    }

    ReadGeneral(u"DATA", value);
    SerialSettings.dataBits = 8;
    if (!IsAbsent(value)) {
        // The cut to 16 bits comes before the range test.
        auto bits = static_cast<std::uint16_t>(platform::wtoi(value));
        if (bits >= 5 && bits <= 8) SerialSettings.dataBits = bits;
    }

    ReadGeneral(u"STOP", value);
    SerialSettings.stopBits = 0;
    if (!IsAbsent(value)) {
        for (std::uint16_t code = 0; code < 3; ++code) {
            if (platform::StrCmp(value, kStopTexts[code]) == 0) {
                SerialSettings.stopBits = code;
                break;
            }
        }
    }

    ReadSettingValue(kGeneral, u"KEYTABLE", kAbsent, SerialSettings.keyTableName,
                     kSectionNameCapacity, SettingsFilePath);
}

void SaveSettings() {
    char16_t number[kSettingTextCapacity];
    platform::FormatDecimal(number, kSettingTextCapacity, SerialSettings.port);
    WriteSettingValue(kGeneral, u"COM", number, SettingsFilePath);
    platform::FormatDecimal(number, kSettingTextCapacity, SerialSettings.dataBits);
    WriteSettingValue(kGeneral, u"DATA", number, SettingsFilePath);
    WriteSettingValue(kGeneral, u"KEYTABLE", SerialSettings.keyTableName, SettingsFilePath);
    for (std::size_t i = 0; i < std::size(kBaudRates); ++i) {
        if (SerialSettings.baudRate == kBaudRates[i]) {
            WriteSettingValue(kGeneral, u"BAUDRATE", kBaudRateTexts[i], SettingsFilePath);
            break;
        }
    }
    if (SerialSettings.parity < std::size(kParityTexts))
        WriteSettingValue(kGeneral, u"PARITY", kParityTexts[SerialSettings.parity],
                          SettingsFilePath);
    if (SerialSettings.stopBits < std::size(kStopTexts))
        WriteSettingValue(kGeneral, u"STOP", kStopTexts[SerialSettings.stopBits], SettingsFilePath);
}
