// The general settings: loading GENERAL with its validation and fixed
// defaults, and writing the user's choices back at each Start.
#include "settings/general_settings.h"

#include <iterator>

#include "platform/text.h"
#include "settings/settings_file.h"

SerialSettingsRecord SerialSettings;
std::int32_t AvailablePorts[kMaxAvailablePorts];
std::int32_t AvailablePortCount;
bool GeneralSettingsUnreadable = false;

namespace {

constexpr const char16_t* kGeneral = u"GENERAL";

bool IsAbsent(const char16_t* value) {
    return platform::StrCmp(value, kAbsentValue) == 0;
}

void ReadGeneral(const char16_t* key, char16_t* value, std::uint32_t count = kTextCapacity) {
    bool unreadable = false;
    ReadSettingValue(kGeneral, key, kAbsentValue, value, count, SettingsFilePath, &unreadable);
    if (unreadable) GeneralSettingsUnreadable = true;
}

constexpr std::uint16_t kNoCode = 0xFFFF;

// The code a PARITY or STOP text stands for: its position in `list`, or
// `otherwise` when the list does not hold it (the absent marker included).
template <std::size_t N>
std::uint16_t CodeOf(const char16_t* value, const char16_t* const (&list)[N],
                     std::uint16_t otherwise) {
    for (std::size_t code = 0; code < N; ++code)
        if (platform::StrCmp(value, list[code]) == 0) return static_cast<std::uint16_t>(code);
    return otherwise;
}

}  // namespace

void ListAvailablePorts(std::int32_t* ports, std::int32_t* count) {
    for (int i = 0; i < kMaxAvailablePorts; ++i) ports[i] = i + 1;
    *count = kMaxAvailablePorts;
}

GeneralValue InterpretGeneralValue(const char16_t* key, const char16_t* text) {
    const bool absent = IsAbsent(text);
    if (platform::StrCmp(key, u"STROKE_DELAY") == 0) {
        // Never rejected: the low 16 bits of any number, 0 without digits.
        if (absent) return {1, true};
        return {static_cast<std::uint16_t>(platform::wtoi(text)), false};
    }
    if (platform::StrCmp(key, u"COM") == 0) {
        if (!absent) {
            auto wanted = static_cast<std::uint16_t>(platform::wtoi(text));
            for (int i = 0; i < AvailablePortCount; ++i)
                if (static_cast<std::int32_t>(wanted) == AvailablePorts[i]) return {wanted, false};
        }
        return {static_cast<std::uint32_t>(AvailablePorts[0]), true};
    }
    if (platform::StrCmp(key, u"BAUDRATE") == 0) {
        if (!absent) {
            auto wanted = static_cast<std::uint32_t>(platform::wtoi(text));
            for (const char16_t* rate : kBaudRateTexts)
                if (wanted == static_cast<std::uint32_t>(platform::wtoi(rate)))
                    return {wanted, false};
        }
        return {9600, true};
    }
    if (platform::StrCmp(key, u"PARITY") == 0) {
        const std::uint16_t code = CodeOf(text, kParityTexts, kNoCode);
        return code == kNoCode ? GeneralValue{0, true} : GeneralValue{code, false};
    }
    if (platform::StrCmp(key, u"DATA") == 0) {
        if (!absent) {
            // The cut to 16 bits comes before the range test.
            auto bits = static_cast<std::uint16_t>(platform::wtoi(text));
            if (bits >= 5 && bits <= 8) return {bits, false};
        }
        return {8, true};
    }
    if (platform::StrCmp(key, u"STOP") == 0) {
        const std::uint16_t code = CodeOf(text, kStopBitsTexts, kNoCode);
        return code == kNoCode ? GeneralValue{0, true} : GeneralValue{code, false};
    }
    return {0, true};
}

void LoadGeneralSettings() {
    char16_t value[kTextCapacity];
    GeneralSettingsUnreadable = false;

    ReadGeneral(u"STROKE_DELAY", value);
    SerialSettings.strokeDelay =
        static_cast<std::uint16_t>(InterpretGeneralValue(u"STROKE_DELAY", value).value);
    ReadGeneral(u"COM", value);
    SerialSettings.port = static_cast<std::uint16_t>(InterpretGeneralValue(u"COM", value).value);
    ReadGeneral(u"BAUDRATE", value);
    SerialSettings.baudRate = InterpretGeneralValue(u"BAUDRATE", value).value;
    ReadGeneral(u"PARITY", value);
    SerialSettings.parity =
        static_cast<std::uint16_t>(InterpretGeneralValue(u"PARITY", value).value);
    ReadGeneral(u"DATA", value);
    SerialSettings.dataBits =
        static_cast<std::uint16_t>(InterpretGeneralValue(u"DATA", value).value);
    ReadGeneral(u"STOP", value);
    SerialSettings.stopBits =
        static_cast<std::uint16_t>(InterpretGeneralValue(u"STOP", value).value);

    ReadGeneral(u"KEYTABLE", SerialSettings.keyTableName, kSectionNameCapacity);
}

void SaveSettings() {
    if (GeneralSettingsUnreadable) return;
    // Each key is one rewrite of the file. The first that fails has reported
    // its code; the rest would fail the same way and say it again, so the
    // save stops there and one Start shows one message.
    char16_t port[kTextCapacity];
    char16_t dataBits[kTextCapacity];
    platform::FormatDecimal(port, kTextCapacity, SerialSettings.port);
    platform::FormatDecimal(dataBits, kTextCapacity, SerialSettings.dataBits);
    const char16_t* baudRate = nullptr;
    for (const char16_t* rate : kBaudRateTexts)
        if (SerialSettings.baudRate == static_cast<std::uint32_t>(platform::wtoi(rate)))
            baudRate = rate;
    const struct {
        const char16_t* key;
        const char16_t* value;  // null: a value with no text of its own is not written
    } keys[] = {
        {u"COM", port},
        {u"DATA", dataBits},
        {u"KEYTABLE", SerialSettings.keyTableName},
        {u"BAUDRATE", baudRate},
        {u"PARITY", SerialSettings.parity < std::size(kParityTexts)
                        ? kParityTexts[SerialSettings.parity]
                        : nullptr},
        {u"STOP", SerialSettings.stopBits < std::size(kStopBitsTexts)
                      ? kStopBitsTexts[SerialSettings.stopBits]
                      : nullptr},
    };
    for (const auto& [key, value] : keys) {
        if (value != nullptr &&
            WriteSettingValue(kGeneral, key, value, SettingsFilePath) == kWriteFailed)
            return;
    }
}
