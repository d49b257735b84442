// Hands the engine its inputs the way the program does, and takes its results
// and messages back into the tool.
#include "tools/engine_bridge.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"
#include "settings/general_settings.h"
#include "settings/settings_file.h"
#include "tools/text_conversion.h"

namespace {

ToolOutput* engineMessages = nullptr;

// The engine reports only a failed replace of the settings file, with the
// decimal error code as its whole text.
void ReportEngineMessage(const char16_t* text) {
    std::string line =
        "quorvel-ini: the settings file could not be replaced: error " + ToUtf8(text) + "\n";
    if (engineMessages != nullptr) {
        engineMessages->err += line;
    } else {
        std::fputs(line.c_str(), stderr);
    }
}

}  // namespace

void RouteEngineMessagesTo(ToolOutput* io) {
    engineMessages = io;
    SetSettingsErrorReporter(&ReportEngineMessage);
}

bool SetSettingsPath(const std::u16string& path, ToolOutput& io) {
    if (path.size() + 1 > static_cast<std::size_t>(kTextCapacity)) {
        Note(io, "the path is longer than the program's " + std::to_string(kTextCapacity - 1) +
                     "-character path buffer");
        return false;
    }
    platform::StrCopy(SettingsFilePath, kTextCapacity, path.c_str());
    return true;
}

void LoadTableFrom(const KeyTableEntry* start, const std::vector<std::u16string>& sections,
                   KeyTableEntry* result) {
    std::memcpy(KeyTable, start, sizeof KeyTable);
    for (const std::u16string& section : sections) {
        platform::StrCopy(SerialSettings.keyTableName, kSectionNameCapacity, section.c_str());
        LoadKeyTable();
    }
    std::memcpy(result, KeyTable, sizeof KeyTable);
}

bool IsFolderNotFile(const std::u16string& path, ToolOutput& io) {
    if (DiagnoseSettingsFile(path.c_str()).state != SettingsFileState::kDirectory) return false;
    Note(io, ToUtf8(path) + " is a directory, not a settings file");
    return true;
}

bool IsUnfitFile(const std::u16string& path, ToolOutput& io) {
    const SettingsFileState state = DiagnoseSettingsFile(path.c_str()).state;
    if (state == SettingsFileState::kNotRegular) {
        Note(io, ToUtf8(path) + " is not a regular file");
        return true;
    }
    if (state == SettingsFileState::kTooLarge) {
        Note(io, ToUtf8(path) + " is larger than " + std::to_string(kSettingsFileMegabytes) +
                     " MB, more than the program reads of a settings file");
        return true;
    }
    return false;
}
