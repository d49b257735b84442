// Synthetic keystrokes on desktop Windows. The core asks for "silent" presses
// and releases (flag 0x0004); on the desktop that bit means a Unicode packet
// instead, so only the key-up bit is passed on.
#include "platform/services.h"

#include <windows.h>

namespace platform {

void keybd_event(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags,
                 std::uintptr_t extraInfo) {
    // Programs that look at scan codes (terminals, remote desktops) get the
    // one that belongs to the key, as a real keyboard would send it.
    if (scanCode == 0) {
        scanCode = static_cast<std::uint8_t>(::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    }
    const DWORD desktopFlags = (flags & KEYEVENTF_KEYUP) ? KEYEVENTF_KEYUP : 0;
    ::keybd_event(virtualKey, scanCode, desktopFlags, static_cast<ULONG_PTR>(extraInfo));
}

// Windows places the virtual keys on the active layout itself.
void SetKeyHints(const KeyHint*, std::size_t) {}

}  // namespace platform
