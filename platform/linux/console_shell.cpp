// Linux shell services for the command-line tools: a message box is a line on
// standard error, since there is no one to click OK. No tray icon and no icons:
// those calls report failure.
#include <cstdio>

#include "platform/services.h"
#include "platform/text.h"

namespace platform {

std::int32_t MessageBoxW(WindowHandle, const char16_t* text, const char16_t* caption,
                         std::uint32_t) {
    unsigned char line[2048];
    auto put = [&](const char16_t* t) {
        std::ptrdiff_t n = EncodeUtf8(t, line, sizeof line);
        if (n > 0) std::fwrite(line, 1, static_cast<std::size_t>(n), stderr);
    };
    if (caption != nullptr) {
        put(caption);
        std::fputs(": ", stderr);
    }
    put(text);
    std::fputc('\n', stderr);
    return kIdOk;
}

void DismissMessageBoxes(ThreadHandle) {}

bool Shell_NotifyIconW(std::uint32_t, const NotifyIconData*) {
    return false;
}

std::uint32_t ExtractIconExW(const char16_t*, std::int32_t, IconHandle*, IconHandle*,
                             std::uint32_t) {
    return 0;
}

}  // namespace platform
