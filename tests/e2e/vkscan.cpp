// Asks Windows (here Wine, with the display's keyboard layout) which key and
// modifiers type each character, so that the keyboard tables can be checked
// against the layout itself, AltGr entries included, which cannot be typed
// under Wine. Arguments: characters as hex code points; one line each on stdout:
//   U+00E9 0x0032        (VkKeyScanW's result: high byte 1 Shift, 2 Ctrl, 4 Alt)
// With "keys" first, the arguments are virtual keys and each line tells what
// the key types alone and with Shift (ToUnicode; "-" for nothing, "dead" for a
// dead key):   VK 0xBA U+00FC U+00DC
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

void PrintTyped(UINT key, bool shift) {
    BYTE state[256] = {};
    if (shift) state[VK_SHIFT] = 0x80;
    WCHAR text[8] = {};
    const UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    const int n = ToUnicode(key, scan, state, text, 8, 0);
    if (n < 0) {
        // A dead key waits for the next one; a second press empties it again.
        ToUnicode(key, scan, state, text, 8, 0);
        std::printf(" dead");
    } else if (n == 0) {
        std::printf(" -");
    } else {
        std::printf(" U+%04X", static_cast<unsigned>(text[0]));
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && std::wcscmp(argv[1], L"keys") == 0) {
        for (int i = 2; i < argc; ++i) {
            const UINT key = static_cast<UINT>(std::wcstoul(argv[i], nullptr, 16));
            std::printf("VK 0x%02X", key);
            PrintTyped(key, false);
            PrintTyped(key, true);
            std::printf("\n");
        }
        std::fflush(stdout);
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        const unsigned long code = std::wcstoul(argv[i], nullptr, 16);
        const SHORT result = VkKeyScanW(static_cast<WCHAR>(code));
        std::printf("U+%04lX 0x%04X\n", code, static_cast<unsigned>(static_cast<USHORT>(result)));
    }
    std::fflush(stdout);
    return 0;
}
