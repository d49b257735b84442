// What a quorvel-ini subcommand hands back: its two output streams, kept in
// memory so that the tests can run it in-process, and its exit status.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Each subcommand writes into these; main() puts them on the standard streams.
// With a sink set (main sets one), a stream is passed on in pieces as it grows,
// so that a large report is never held whole; without one (the tests), it
// stays whole in memory.
struct ToolOutput {
    std::string out;
    std::string err;
    std::FILE* outSink = nullptr;
    std::FILE* errSink = nullptr;
};

using ToolArgs = std::vector<std::u16string>;

// Exit status of a wrong call.
inline constexpr int kUsageError = 2;
// Exit status when the tool's own reading of the file disagrees with the engine.
inline constexpr int kInternalError = 3;

// Writes "quorvel-ini: <message>" on the error stream.
void Note(ToolOutput& io, std::string_view message);
int UsageError(ToolOutput& io, std::string_view message);

// Pass what a stream holds on to its sink once it is large, or always with
// `all`. Callers call them between lines; error text is passed on early only
// where nothing on the output stream can come before it, so that the two
// streams, shown together, keep today's order: the whole output, then the
// errors.
void FlushOut(ToolOutput& io, bool all = false);
void FlushErr(ToolOutput& io, bool all = false);
