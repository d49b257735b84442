// The settings-file engine: the only code that touches the settings file.
// Sections and keys are found by case-sensitive containment anywhere in a
// line, and a key search does not stop at the next section; stored files rely
// on these rules, so they are kept exactly.
#pragma once

#include <cstdint>

#include "platform/codes.h"

namespace settings_text {
class TextFileReader;
}

// The capacities are the seam's: lines, paths, values and messages hold
// kTextCapacity units, a section name kSectionNameCapacity.
using platform::kSectionNameCapacity;
using platform::kTextCapacity;
inline constexpr int kMaxSettingSections = 10;
// The default text every reader passes: finding exactly this text back means
// the key is missing or unusable.
inline constexpr char16_t kAbsentValue[] = u"ERROR";

// The executable's path with its last three characters replaced by "INI".
extern char16_t SettingsFilePath[kTextCapacity];
void ComputeSettingsFilePath();

// 0: the key's value was copied to `destination`; 1: `defaultText` was.
int ReadSettingValue(const char16_t* section, const char16_t* key, const char16_t* defaultText,
                     char16_t* destination, std::uint32_t count, const char16_t* path);
// The same read, and whether the file exists but could not be read through
// (another program holds it, a read error): the value handed back then says
// nothing about what the file holds. A missing file is not unreadable.
int ReadSettingValue(const char16_t* section, const char16_t* key, const char16_t* defaultText,
                     char16_t* destination, std::uint32_t count, const char16_t* path,
                     bool* unreadable);
// No real settings file comes near this size; the engine reads no further, so
// that a file without end cannot keep it reading for ever.
inline constexpr std::uint32_t kSettingsFileMegabytes = 16;
inline constexpr std::uint64_t kSettingsFileByteLimit =
    static_cast<std::uint64_t>(kSettingsFileMegabytes) << 20;

// Whether the settings file at `path` can be used, and why not. A missing
// file is no fault (every setting takes its default); one that is there but
// cannot be opened or read, holds UTF-16 text (Notepad's "Unicode") or has no
// line with "[GENERAL]" would silently run on defaults, so the program names
// it, and never writes over it.
enum class SettingsFileState : std::uint8_t {
    kUsable,
    kMissing,
    kUnreadable,  // `error` says why (5: no permission, 32: another program holds it)
    kDirectory,
    kNotRegular,  // a pipe, a device or a socket: reading it could block or never end
    kTooLarge,    // more than kSettingsFileByteLimit bytes
    kUtf16,
    kNoGeneral,
};
struct SettingsFileDiagnosis {
    SettingsFileState state;
    std::uint32_t error;  // the system's code for kUnreadable, else 0
};
SettingsFileDiagnosis DiagnoseSettingsFile(const char16_t* path);

// How long a rewrite waits for another of our own processes to finish its
// rewrite before it fails with 32. One takes milliseconds; the program keeps
// the default short, as it waits on the dialog thread, and a command-line
// tool may wait longer.
inline constexpr std::uint32_t kDefaultLockWaitMs = 250;
void SetSettingsLockWait(std::uint32_t milliseconds);

// Results of WriteSettingValue. In both failures the settings file is exactly
// as it was and no copy is left behind.
inline constexpr int kWriteReplaced = 0;   // the key line replaced, the new file put in place
inline constexpr int kWriteUnchanged = 1;  // nothing to replace: no file, section or key
inline constexpr int kWriteFailed = 2;     // the file could not be rewritten; reported
int WriteSettingValue(const char16_t* section, const char16_t* key, const char16_t* value,
                      const char16_t* path);
// Why a write of these texts is refused (kWriteUnchanged, the file untouched),
// or null when it is not: the new key line must stay one line of valid text
// in its own section. An empty key; a key or value with a carriage return or
// a line feed; a section name with "]" or a line end; a lone surrogate in any
// of them (it has no UTF-8 form), other than U+DC80 to U+DCFF, which stand
// for bytes that are not UTF-8 and are written back as those bytes.
const char* RefusedSettingWrite(const char16_t* section, const char16_t* key,
                                const char16_t* value);
// Fills `list` with the names of the first kMaxSettingSections lines that
// contain "[" (and not GENERAL), each cut to 32 characters, and sets `count`.
void ListSettingSections(const char16_t* path, char16_t (*list)[kSectionNameCapacity],
                         std::uint16_t* count);
// The list's rule for one line: false when the line names no section (no "[",
// or it contains GENERAL); otherwise cuts `line` down to the name it gives,
// before the cut to 32 characters.
bool TakeListedSectionName(char16_t* line);
void TrimSettingValue(char16_t* text, char16_t separator);

// The lookup rules every reader of the file shares. A section starts at the
// first line that contains "[section]" anywhere; a key is read from the first
// later line that contains the key's text anywhere.
// "[section]"; false when it does not fit kTextCapacity units.
bool BuildSectionHeader(char16_t* header, const char16_t* section);
bool LineHasHeader(const char16_t* line, const char16_t* header);
bool LineHasKey(const char16_t* line, const char16_t* key);
// Whether `line` is `key`'s own line as a person reads it: KEY = VALUE, the
// text before the "=" being the key alone (blanks aside), with no "#" before
// it. A lookup may stop at another line that merely contains the key's text.
bool IsOwnKeyLine(const char16_t* line, const char16_t* key);
// The line a read of `key` in `section` stops at: its number (1 for the
// first line of the file), and whether it is the key's own line; 0 when the
// read finds none.
int LocateSettingLine(const char16_t* section, const char16_t* key, const char16_t* path,
                      bool* ownLine);
// Turns the line a key search stopped at into the value a read hands back (in
// place); false when the line has no "=" or nothing after it.
bool TakeSettingValue(char16_t* line);
// Reads pieces up to the first that contains "[section]"; false when none does.
bool SeekSection(settings_text::TextFileReader& reader, const char16_t* section);
void CutSettingText(char16_t* text, char16_t c);

// Where a failed rewrite of the settings file (its error code) is reported. The program shows
// a message box; a command-line tool writes to standard error.
using SettingsErrorReporter = void (*)(const char16_t* text);
void SetSettingsErrorReporter(SettingsErrorReporter reporter);
// Hands the code in GetLastError() to the reporter.
void ReportSettingsFailure();
