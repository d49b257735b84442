// The general settings: loading GENERAL with its validation and fixed
// defaults, and writing the user's choices back at each Start.
#include "settings/general_settings.h"

#include <iterator>

#include "platform/services.h"
#include "platform/text.h"
#include "settings/settings_file.h"

SerialSettingsRecord SerialSettings;
std::int32_t AvailablePorts[kMaxAvailablePorts];
std::int32_t AvailablePortCount;
bool GeneralSettingsUnreadable = false;
SettingsFileDiagnosis LoadedSettingsFile = {SettingsFileState::kMissing, 0};

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

// The number a text gives, cut to the field that takes it.
std::uint32_t NumberFor(const GeneralSetting& setting, const char16_t* text) {
    const std::int32_t number = platform::wtoi(text);
    return setting.field32 != nullptr ? static_cast<std::uint32_t>(number)
                                      : static_cast<std::uint16_t>(number);
}

std::uint32_t FieldValue(const GeneralSetting& setting) {
    return setting.field32 != nullptr ? SerialSettings.*setting.field32
                                      : SerialSettings.*setting.field16;
}

void SetField(const GeneralSetting& setting, std::uint32_t value) {
    if (setting.field32 != nullptr) {
        SerialSettings.*setting.field32 = value;
    } else {
        SerialSettings.*setting.field16 = static_cast<std::uint16_t>(value);
    }
}

// The choice that spells `value`'s number, or null.
const char16_t* ListedText(const GeneralSetting& setting, std::uint32_t value) {
    for (std::size_t i = 0; i < setting.choiceCount; ++i)
        if (value == static_cast<std::uint32_t>(platform::wtoi(setting.choices[i])))
            return setting.choices[i];
    return nullptr;
}

GeneralValue Accepted(const GeneralSetting& setting, bool accepted, std::uint32_t value) {
    return accepted ? GeneralValue{value, false} : GeneralValue{setting.defaultValue, true};
}

}  // namespace

void ListAvailablePorts(std::int32_t* ports, std::int32_t* count) {
    std::int32_t listed = 0;
    for (; listed < kAlwaysListedPorts; ++listed) ports[listed] = listed + 1;
    // Windows numbers USB adapters and scanners well above 10; a port not
    // listed here could never be chosen, and a saved one would turn into 1.
    std::int32_t present[kMaxAvailablePorts];
    const std::int32_t found = platform::ListPresentSerialPorts(present, kMaxAvailablePorts);
    for (std::int32_t i = 0; i < found && listed < kMaxAvailablePorts; ++i)
        if (present[i] > ports[listed - 1] && present[i] <= platform::kHighestComPort)
            ports[listed++] = present[i];
    *count = listed;
}

void IncludeAvailablePort(std::int32_t port) {
    if (port < 1 || port > platform::kHighestComPort) return;
    std::int32_t at = 0;
    while (at < AvailablePortCount && AvailablePorts[at] < port) ++at;
    if ((at < AvailablePortCount && AvailablePorts[at] == port) ||
        AvailablePortCount >= kMaxAvailablePorts)
        return;
    for (std::int32_t i = AvailablePortCount; i > at; --i)
        AvailablePorts[i] = AvailablePorts[i - 1];
    AvailablePorts[at] = port;
    ++AvailablePortCount;
}

GeneralValue InterpretGeneralValue(const GeneralSetting& setting, const char16_t* text) {
    const bool absent = IsAbsent(text);
    switch (setting.rule) {
        case GeneralRule::kAnyNumber:
            return Accepted(setting, !absent, absent ? 0 : NumberFor(setting, text));
        case GeneralRule::kAvailablePort: {
            // Any port Windows can number is kept, present or not: a USB
            // adapter unplugged at start-up is still the user's port, and
            // the load lists it (IncludeAvailablePort).
            const std::uint32_t wanted = absent ? 0 : NumberFor(setting, text);
            if (!absent && wanted >= 1 && wanted <= platform::kHighestComPort)
                return {wanted, false};
            return {static_cast<std::uint32_t>(AvailablePorts[0]), true};
        }
        case GeneralRule::kListedNumber: {
            const std::uint32_t wanted = absent ? 0 : NumberFor(setting, text);
            return Accepted(setting, !absent && ListedText(setting, wanted) != nullptr, wanted);
        }
        case GeneralRule::kListPosition:
            // The absent marker is no choice, so it needs no test of its own.
            for (std::size_t code = 0; code < setting.choiceCount; ++code)
                if (platform::StrCmp(text, setting.choices[code]) == 0)
                    return {static_cast<std::uint32_t>(code), false};
            return Accepted(setting, false, 0);
        case GeneralRule::kName:
        case GeneralRule::kScanText:
        case GeneralRule::kScanReplace:
            break;
    }
    return {0, false};
}

const char16_t* GeneralValueText(const GeneralSetting& setting, std::uint32_t value,
                                 char16_t (&buffer)[kTextCapacity]) {
    switch (setting.save) {
        case GeneralSave::kDecimal:
            platform::FormatDecimal(buffer, kTextCapacity, static_cast<std::int32_t>(value));
            return buffer;
        case GeneralSave::kChoice:
            if (setting.rule == GeneralRule::kListPosition)
                return value < setting.choiceCount ? setting.choices[value] : nullptr;
            return ListedText(setting, value);
        case GeneralSave::kNever:
        case GeneralSave::kName:
            break;
    }
    return nullptr;
}

void LoadGeneralSettings() {
    LoadedSettingsFile = DiagnoseSettingsFile(SettingsFilePath);
    GeneralSettingsUnreadable = LoadedSettingsFile.state != SettingsFileState::kUsable &&
                                LoadedSettingsFile.state != SettingsFileState::kMissing;
    for (const GeneralSetting& setting : kGeneralSettings) {
        if (setting.rule == GeneralRule::kName) {
            ReadGeneral(setting.key, SerialSettings.keyTableName, kSectionNameCapacity);
            continue;
        }
        if (char16_t* text = ScanSettingText(SerialSettings, setting)) {
            ReadGeneral(setting.key, text);
            continue;
        }
        char16_t value[kTextCapacity];
        ReadGeneral(setting.key, value);
        const GeneralValue taken = InterpretGeneralValue(setting, value);
        SetField(setting, taken.value);
        if (setting.rule == GeneralRule::kAvailablePort)
            IncludeAvailablePort(static_cast<std::int32_t>(taken.value));
    }
}

char16_t MisreadGeneralKeys[platform::kReportCapacity];

namespace {

// Whether a save may replace the line a read of `setting` stops at; names
// the key in MisreadGeneralKeys when that line is not its own.
bool KeyLineIsOwn(const GeneralSetting& setting) {
    bool own = false;
    const int line = LocateSettingLine(kGeneral, setting.key, SettingsFilePath, &own);
    if (line == 0 || own) return true;
    using platform::StrAppend;
    constexpr std::size_t kCapacity = platform::kReportCapacity;
    char16_t text[kCapacity];
    char16_t number[16];
    platform::FormatDecimal(number, 16, line);
    platform::StrCopy(text, kCapacity, setting.key);
    StrAppend(text, kCapacity, u" est lu à la ligne ");
    StrAppend(text, kCapacity, number);
    StrAppend(text, kCapacity,
              setting.save == GeneralSave::kNever
                  ? u", qui n'est pas la sienne.\n"
                  : u", qui n'est pas la sienne : il n'y est pas enregistré.\n");
    if (MisreadGeneralKeys[0] == 0) {
        StrAppend(MisreadGeneralKeys, kCapacity, u"Fichier de paramètres ");
        StrAppend(MisreadGeneralKeys, kCapacity, SettingsFilePath);
        StrAppend(MisreadGeneralKeys, kCapacity, u" :\n");
    }
    StrAppend(MisreadGeneralKeys, kCapacity, text);
    return false;
}

}  // namespace

void SaveSettings() {
    MisreadGeneralKeys[0] = 0;
    if (GeneralSettingsUnreadable) return;
    if (SettingsFilePath[0] == 0) {
        // Read as a missing file, but the user's choices cannot be kept: say so.
        platform::SetLastError(platform::kErrorFilenameTooLong);
        ReportSettingsFailure();
        return;
    }
    // A key read from another key's line (its name inside a SCAN_ value)
    // would have that line replaced by its own: such a save is skipped.
    bool own[std::size(kGeneralSettings)];
    for (std::size_t i = 0; i < std::size(kGeneralSettings); ++i)
        own[i] = KeyLineIsOwn(kGeneralSettings[i]);
    if (MisreadGeneralKeys[0] != 0) {
        platform::StrAppend(MisreadGeneralKeys, platform::kReportCapacity,
                            u"Donnez à chaque clé sa propre ligne « CLÉ = valeur » au-dessus de "
                            u"celle-ci, ou retirez son nom de cette ligne.");
    }
    // Each key is one rewrite of the file. The first that fails has reported
    // its code; the rest would fail the same way and say it again, so the
    // save stops there and one Start shows one message.
    for (const GeneralKey id : kGeneralSaveOrder) {
        const GeneralSetting& setting = GeneralSettingOf(id);
        if (!own[static_cast<std::size_t>(id)]) continue;
        char16_t buffer[kTextCapacity];
        const char16_t* value = setting.save == GeneralSave::kName
                                    ? SerialSettings.keyTableName
                                    : GeneralValueText(setting, FieldValue(setting), buffer);
        if (value != nullptr &&
            WriteSettingValue(kGeneral, setting.key, value, SettingsFilePath) == kWriteFailed)
            return;
    }
}
