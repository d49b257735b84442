// The messages every subcommand writes the same way, and the passing on of
// the output streams as they grow.
#include "tools/tool_output.h"

namespace {

// Large enough that writes stay few, small beside the memory bound.
constexpr std::size_t kFlushBytes = 64 * 1024;

void Flush(std::string& text, std::FILE* sink, bool all) {
    if (sink == nullptr || text.empty() || (!all && text.size() < kFlushBytes)) return;
    std::fwrite(text.data(), 1, text.size(), sink);
    text.clear();
}

}  // namespace

void Note(ToolOutput& io, std::string_view message) {
    io.err += "quorvel-ini: ";
    io.err += message;
    io.err += '\n';
}

int UsageError(ToolOutput& io, std::string_view message) {
    Note(io, message);
    io.err += "Try 'quorvel-ini --help'.\n";
    return kUsageError;
}

void FlushOut(ToolOutput& io, bool all) {
    Flush(io.out, io.outSink, all);
}

void FlushErr(ToolOutput& io, bool all) {
    Flush(io.err, io.errSink, all);
}
