// The settings-file engine: the only code that touches the settings file.
// Sections and keys are found by case-sensitive containment anywhere in a
// line, and a key search does not stop at the next section; stored files rely
// on these rules, so they are kept exactly.
#pragma once

#include <cstdint>

inline constexpr int kSettingTextCapacity = 260;  // lines, paths, values, messages

// The executable's path with its last three characters replaced by "INI".
extern char16_t SettingsFilePath[kSettingTextCapacity];
void ComputeSettingsFilePath();

// 0: the key's value was copied to `destination`; 1: `defaultText` was.
int ReadSettingValue(const char16_t* section, const char16_t* key, const char16_t* defaultText,
                     char16_t* destination, std::uint32_t count, const char16_t* path);
// 0: the key line was replaced and the new file put in place atomically;
// 1: the settings file is exactly as it was.
int WriteSettingValue(const char16_t* section, const char16_t* key, const char16_t* value,
                      const char16_t* path);
// Fills SerialSettings.SettingSectionList and SettingSectionCount.
void ListSettingSections(const char16_t* path);
void TrimSettingValue(char16_t* text, char16_t separator);
void CutSettingText(char16_t* text, char16_t c);

// Where a failed replace of the settings file is reported. The program shows
// a message box; a command-line tool writes to standard error.
using SettingsErrorReporter = void (*)(const char16_t* text);
void SetSettingsErrorReporter(SettingsErrorReporter reporter);
