// Windows shell services: message boxes, the tray icon and icons.
// The seam comes before <windows.h>: its constants share names with Windows macros.
#include "platform/services.h"

#include <windows.h>

namespace platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

std::int32_t MessageBoxW(Handle owner, const char16_t* text, const char16_t* caption,
                         std::uint32_t type) {
    return ::MessageBoxW(reinterpret_cast<HWND>(owner), reinterpret_cast<const wchar_t*>(text),
                         reinterpret_cast<const wchar_t*>(caption), type);
}

void DismissMessageBoxes(Handle) {}

}  // namespace platform
