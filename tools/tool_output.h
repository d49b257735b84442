// What a quorvel-ini subcommand hands back: its two output streams, kept in
// memory so that the tests can run it in-process, and its exit status.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Each subcommand writes into these; main() puts them on the standard streams.
struct ToolOutput {
    std::string out;
    std::string err;
};

using ToolArgs = std::vector<std::u16string>;

// Exit status of a wrong call.
inline constexpr int kUsageError = 2;
// Exit status when the tool's own reading of the file disagrees with the engine.
inline constexpr int kInternalError = 3;

// Writes "quorvel-ini: <message>" on the error stream.
void Note(ToolOutput& io, std::string_view message);
int UsageError(ToolOutput& io, std::string_view message);
