// quorvel-ini: a command-line tool over the settings engine, for people who
// write and debug settings files and for our own tests.
#include <cstdio>

#include "tools/commands.h"
#include "tools/tool_console.h"

int main(int argc, char** argv) {
    PrepareStandardStreams();
    ToolOutput io;
    io.outSink = stdout;
    io.errSink = stderr;
    int status = RunQuorvelIni(GetToolArguments(argc, argv), io);
    FlushOut(io, true);
    FlushErr(io, true);
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}
