// POSIX console for quorvel-ini: argv arrives as UTF-8 bytes; bytes that are
// not valid UTF-8 are kept through the lossless decoder so a file name that
// is not UTF-8 still names the same file.
#include "tools/text_conversion.h"
#include "tools/tool_console.h"

std::vector<std::u16string> GetToolArguments(int argc, char** argv) {
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i) args.push_back(FromUtf8(argv[i]));
    return args;
}

void PrepareStandardStreams() {}
