// Windows console for quorvel-ini: the C runtime's narrow argv loses every
// character outside the ANSI code page, so the arguments come from the wide
// command line; the standard streams are switched to binary so that our
// UTF-8 output keeps its plain line feeds.
#include <fcntl.h>
#include <io.h>
#include <cstdio>

#include "tools/tool_console.h"

#include <windows.h>
// shellapi.h needs the declarations of windows.h first.
#include <shellapi.h>

std::vector<std::u16string> GetToolArguments(int, char**) {
    std::vector<std::u16string> args;
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (argv == nullptr) return args;
    for (int i = 1; i < count; ++i) {
        args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    }
    ::LocalFree(argv);
    return args;
}

void PrepareStandardStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}
