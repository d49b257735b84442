// Shared pieces of quorvel-ini: output buffers, text conversion, the settings
// file seen line by line as the engine sees it, and the names of bytes and keys.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "keymap/key_table.h"

// Each subcommand writes into these; main() puts them on the standard streams.
// Keeping them in memory lets the tests run a subcommand in-process.
struct ToolOutput {
    std::string out;
    std::string err;
};

using ToolArgs = std::vector<std::u16string>;

// Exit status of a wrong call.
inline constexpr int kUsageError = 2;
// Exit status when the tool's own reading of the file disagrees with the engine.
inline constexpr int kInternalError = 3;

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);
std::u16string Decimal(int value);

// Writes "quorvel-ini: <message>" on the error stream.
void Note(ToolOutput& io, std::string_view message);
int UsageError(ToolOutput& io, std::string_view message);

// The engine reports a failed replace through a plain function pointer; while
// a subcommand runs, its messages go to this output's error stream.
void RouteEngineMessagesTo(ToolOutput* io);

// One line of the settings file as the engine reads it: CR LF and LF both end
// a line as one line feed, and a line longer than 259 units arrives in pieces
// that each count as a line of their own.
struct IniPiece {
    std::u16string text;  // with its line feed, if it had one
    int line = 0;         // physical line number, from 1
    int part = 0;         // 0 for the first piece of a line
};

struct IniFile {
    bool opened = false;
    bool failed = false;  // a read error cut the file short
    std::vector<IniPiece> pieces;
};

IniFile ReadIniFile(const std::u16string& path);
// Raw bytes of a file, for the generator's list; false when it cannot be read.
bool ReadWholeFile(const std::u16string& path, std::string& bytes);
// "line 12" or "line 12, part 2" for the pieces of a long line.
std::string LineLabel(const IniPiece& piece);
// The piece's text for a one-line message: quoted, line feed dropped, control
// characters escaped so the message stays on one line.
std::string Quoted(std::u16string_view text);

// Windows-1252: the character a byte stands for, or 0 for the five bytes the
// code page leaves undefined. Bytes below 0x80 are ASCII.
char16_t Cp1252ToUnicode(std::uint8_t byte);
// -1 when the character has no byte in Windows-1252.
int UnicodeToCp1252(char32_t character);
// Readable name of a byte's character: "A", "SPACE", "CR", "NBSP", "(undefined)".
std::string ByteCharacterName(std::uint8_t byte);

// "VK_RETURN", "VK_A", ...; empty when the code has no name.
std::string VirtualKeyName(std::uint16_t code);
// 0 when no virtual key carries this name.
std::uint16_t VirtualKeyFromName(std::string_view name);

// The path the general settings and the table loader read, as the program sets
// it; false (with a message) when the path does not fit the program's buffer.
bool SetSettingsPath(const std::u16string& path, ToolOutput& io);
// The table a chain of LoadKeyTable calls leaves, starting from `start`.
void LoadTableFrom(const KeyTableEntry* start, const std::vector<std::u16string>& sections,
                   KeyTableEntry* result);

// "VK_A 0x41 Shift": a table entry for a message or a listing.
std::string DescribeKey(const KeyTableEntry& entry);
