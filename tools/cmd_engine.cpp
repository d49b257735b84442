// The subcommands that hand one engine operation to the command line: read,
// write, sections, general and keytable. They print what the engine leaves,
// so a settings file can be debugged exactly as the program will see it.
#include <cstdio>

#include "keymap/scan_text.h"
#include "platform/services.h"
#include "platform/text.h"
#include "settings/general_settings.h"
#include "settings/settings_file.h"
#include "tools/check/general_tracker.h"
#include "tools/commands.h"
#include "tools/engine_bridge.h"
#include "tools/text_conversion.h"

namespace {

// The engine treats a file it cannot open like an empty one; the user should
// still hear about a mistyped name.
void NoteIfUnreadable(const std::u16string& path, ToolOutput& io) {
    platform::FileHandle file = platform::OpenFileForReading(path.c_str());
    if (file == platform::kInvalidFile) {
        Note(io, "cannot open " + ToUtf8(path) + " (error " +
                     std::to_string(platform::GetLastError()) +
                     "); the engine reads it as a file without keys");
        return;
    }
    platform::CloseFile(file);
}

// A COUNT of 1 to 4294967295, decimal digits only.
bool ParseCount(const std::u16string& text, std::uint32_t& count) {
    if (text.empty() || text.size() > 10) return false;
    std::uint64_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - u'0');
    }
    if (value == 0 || value > 0xFFFFFFFFu) return false;
    count = static_cast<std::uint32_t>(value);
    return true;
}

// The GENERAL key whose name is `key`, or null.
const GeneralSetting* GeneralSettingNamed(const std::u16string& key) {
    for (const GeneralSetting& setting : kGeneralSettings)
        if (key == setting.key) return &setting;
    return nullptr;
}

// Why a value of a key only the file sets (SEND_MODE, the SCAN_ keys) would
// be ignored by the program; empty when it would not.
std::string ScanValueProblem(const std::u16string& section, const std::u16string& key,
                             const std::u16string& value) {
    const GeneralSetting* setting = section == u"GENERAL" ? GeneralSettingNamed(key) : nullptr;
    if (setting == nullptr) return {};
    static ScanReplacement parsed;
    ScanTextError error{};
    bool ok = true;
    if (setting->rule == GeneralRule::kScanText)
        ok = ParseScanText(value.c_str(), parsed.to, error);
    if (setting->rule == GeneralRule::kScanReplace)
        ok = ParseScanReplacement(value.c_str(), parsed, error);
    if (setting->rule == GeneralRule::kListPosition && setting->save == GeneralSave::kNever &&
        InterpretGeneralValue(*setting, value.c_str()).defaulted) {
        return ToUtf8(key) + " takes " + check::AcceptedValues(setting->id);
    }
    if (ok) return {};
    return ToUtf8(key) + " = '" + ToUtf8(value) + "' at character " + std::to_string(error.column) +
           ": " + error.reason;
}

void PrintLine(ToolOutput& io, std::u16string_view text) {
    io.out += ToUtf8(text);
    io.out += '\n';
}

}  // namespace

int RunRead(const ToolArgs& args, ToolOutput& io) {
    if (args.size() < 3 || args.size() > 4) {
        return UsageError(io, "read needs FILE SECTION KEY [COUNT]");
    }
    std::uint32_t count = kTextCapacity;
    if (args.size() == 4 && !ParseCount(args[3], count)) {
        return UsageError(io, "COUNT must be a positive number, not '" + ToUtf8(args[3]) + "'");
    }
    if (IsUnfitFile(args[0], io)) return kUsageError;
    NoteIfUnreadable(args[0], io);
    // Every text the engine can copy is shorter than kTextCapacity, so a larger
    // COUNT gives the same result; the buffer need not be larger than that.
    std::uint32_t capacity = count < 4096 ? count : 4096;
    std::vector<char16_t> destination(capacity, u'\0');
    int result = ReadSettingValue(args[1].c_str(), args[2].c_str(), kAbsentValue,
                                  destination.data(), capacity, args[0].c_str());
    PrintLine(io, destination.data());
    return result;
}

int RunWrite(const ToolArgs& args, ToolOutput& io) {
    if (args.size() != 4) return UsageError(io, "write needs FILE SECTION KEY VALUE");
    // A key line must stay one line: the engine refuses what would break it,
    // and the user hears why before the file is looked at.
    for (std::size_t i = 1; i < 4; ++i) {
        if (args[i].find(u'\0') != std::u16string::npos) {
            Note(io, "write refused: an argument contains a NUL character");
            return kUsageError;
        }
    }
    if (const char* problem =
            RefusedSettingWrite(args[1].c_str(), args[2].c_str(), args[3].c_str())) {
        Note(io, std::string("write refused: ") + problem);
        return kUsageError;
    }
    if (const std::string problem = ScanValueProblem(args[1], args[2], args[3]); !problem.empty()) {
        Note(io, "write refused: " + problem);
        return kUsageError;
    }
    if (IsUnfitFile(args[0], io)) return kUsageError;
    if (IsFolderNotFile(args[0], io)) return 1;
    NoteIfUnreadable(args[0], io);
    const int result =
        WriteSettingValue(args[1].c_str(), args[2].c_str(), args[3].c_str(), args[0].c_str());
    return result == kWriteReplaced ? 0 : 1;
}

int RunSections(const ToolArgs& args, ToolOutput& io) {
    if (args.size() != 1) return UsageError(io, "sections needs FILE");
    if (IsUnfitFile(args[0], io)) return kUsageError;
    NoteIfUnreadable(args[0], io);
    ListSettingSections(args[0].c_str(), SerialSettings.SettingSectionList,
                        &SerialSettings.SettingSectionCount);
    for (int i = 0; i < SerialSettings.SettingSectionCount; ++i) {
        PrintLine(io, SerialSettings.SettingSectionList[i]);
    }
    return 0;
}

int RunGeneral(const ToolArgs& args, ToolOutput& io) {
    if (args.size() != 1) return UsageError(io, "general needs FILE");
    if (!SetSettingsPath(args[0], io)) return kUsageError;
    if (IsUnfitFile(args[0], io)) return kUsageError;
    NoteIfUnreadable(args[0], io);
    ListAvailablePorts(AvailablePorts, &AvailablePortCount);
    LoadGeneralSettings();
    const SerialSettingsRecord& s = SerialSettings;
    io.out += "strokeDelay=" + std::to_string(s.strokeDelay) + "\n";
    io.out += "port=" + std::to_string(s.port) + "\n";
    io.out += "baudRate=" + std::to_string(s.baudRate) + "\n";
    io.out += "parity=" + std::to_string(s.parity) + "\n";
    io.out += "stopBits=" + std::to_string(s.stopBits) + "\n";
    io.out += "dataBits=" + std::to_string(s.dataBits) + "\n";
    io.out += "keyTableName=" + ToUtf8(s.keyTableName) + "\n";
    io.out += "sendMode=" + std::to_string(s.sendMode) + "\n";
    // The SCAN_ keys only when the file has them, so that a file without
    // them reads as it always has.
    if (s.scanStripIdentifier != 0) io.out += "scanStripIdentifier=1\n";
    for (const GeneralSetting& setting : kGeneralSettings) {
        const char16_t* text = ScanSettingText(SerialSettings, setting);
        if (text != nullptr && platform::StrCmp(text, kAbsentValue) != 0)
            io.out += ToUtf8(setting.key) + "=" + ToUtf8(text) + "\n";
    }
    return 0;
}

int RunKeyTable(const ToolArgs& args, ToolOutput& io) {
    if (args.size() < 2) return UsageError(io, "keytable needs FILE SECTION [SECTION...]");
    if (!SetSettingsPath(args[0], io)) return kUsageError;
    if (IsUnfitFile(args[0], io)) return kUsageError;
    NoteIfUnreadable(args[0], io);
    std::vector<std::u16string> sections(args.begin() + 1, args.end());
    for (const std::u16string& section : sections) {
        if (section.size() >= static_cast<std::size_t>(kSectionNameCapacity)) {
            const std::string length = std::to_string(platform::kSectionNameLength);
            Note(io, "section name '" + ToUtf8(section) + "' is longer than " + length +
                         " characters; the program holds only its first " + length);
        }
    }
    KeyTableEntry zero[kKeyTableSize] = {};
    KeyTableEntry table[kKeyTableSize];
    LoadTableFrom(zero, sections, table);
    for (int n = 0; n < kKeyTableSize; ++n) {
        char line[64];
        std::snprintf(line, sizeof line, "%d vk=0x%04X shift=%d altgr=%d\n", n,
                      static_cast<unsigned>(table[n].virtualKey), static_cast<int>(table[n].shift),
                      static_cast<int>(table[n].altGr));
        io.out += line;
    }
    return 0;
}
