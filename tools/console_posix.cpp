// POSIX console for quorvel-ini: argv arrives as UTF-8 bytes; bytes that are
// not valid UTF-8 are kept through the lossless decoder so a file name that
// is not UTF-8 still names the same file.
#include <cstring>

#include "platform/text.h"
#include "tools/tool_console.h"

std::vector<std::u16string> GetToolArguments(int argc, char** argv) {
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i) {
        std::size_t size = std::strlen(argv[i]);
        std::u16string text(size + 1, u'\0');
        std::ptrdiff_t n = platform::DecodeUtf8(reinterpret_cast<const unsigned char*>(argv[i]),
                                                size, text.data(), text.size());
        text.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
        args.push_back(std::move(text));
    }
    return args;
}

void PrepareStandardStreams() {}
