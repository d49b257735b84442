// quorvel-ini: a command-line tool over the settings engine, for people who
// write and debug settings files and for our own tests.
#include <cstdio>

#include "tools/commands.h"
#include "tools/tool_console.h"

int main(int argc, char** argv) {
    PrepareStandardStreams();
    ToolOutput io;
    int status = RunQuorvelIni(GetToolArguments(argc, argv), io);
    std::fwrite(io.out.data(), 1, io.out.size(), stdout);
    std::fwrite(io.err.data(), 1, io.err.size(), stderr);
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}
