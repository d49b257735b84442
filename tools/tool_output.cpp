// The messages every subcommand writes the same way.
#include "tools/tool_output.h"

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
