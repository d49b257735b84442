// The tool's way into the settings engine, which works on process-wide
// records: the settings path, the loaded keyboard table and its messages.
#pragma once

#include <string>
#include <vector>

#include "keymap/key_table.h"
#include "tools/tool_output.h"

// The engine reports a failed replace through a plain function pointer; while
// a subcommand runs, its messages go to this output's error stream.
void RouteEngineMessagesTo(ToolOutput* io);

// The path the general settings and the table loader read, as the program sets
// it; false (with a message) when the path does not fit the program's buffer.
bool SetSettingsPath(const std::u16string& path, ToolOutput& io);
// True (with a message naming it) when `path` is a folder: the engine would
// report only a failed replace or a file without sections.
bool IsFolderNotFile(const std::u16string& path, ToolOutput& io);
// True (with a message naming the reason) when `path` is no file the engine
// reads: a pipe, a device or a socket, or a file larger than it reads. The
// command then stops with the usage status.
bool IsUnfitFile(const std::u16string& path, ToolOutput& io);
// The table a chain of LoadKeyTable calls leaves, starting from `start`.
void LoadTableFrom(const KeyTableEntry* start, const std::vector<std::u16string>& sections,
                   KeyTableEntry* result);
