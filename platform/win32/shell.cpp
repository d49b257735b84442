// Windows shell services: message boxes, the tray icon and icons.
#include "platform/services.h"

#include <windows.h>
// shellapi.h builds on windows.h.
#include <shellapi.h>

#include <cstring>
#include <cwchar>
#include <iterator>

namespace platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

namespace {

// A seam handle as the Windows handle it holds.
template <class T>
T FromWord(std::uintptr_t word) {
    return reinterpret_cast<T>(word);
}

}  // namespace

std::int32_t MessageBoxW(WindowHandle owner, const char16_t* text, const char16_t* caption,
                         std::uint32_t type) {
    // A box without an owner comes from the reception thread of a program that
    // lives in the tray: on the desktop it would open behind whatever window
    // has the focus, where nobody sees it, so it is put on top.
    if (owner == kNoWindow) type |= MB_TOPMOST;
    return ::MessageBoxW(FromWord<HWND>(static_cast<std::uintptr_t>(owner)),
                         reinterpret_cast<const wchar_t*>(text),
                         reinterpret_cast<const wchar_t*>(caption), type);
}

namespace {

// A message box is a dialog of the system's dialog class; answering its OK
// command ends it as the user's click would, with IDOK.
BOOL CALLBACK DismissIfMessageBox(HWND window, LPARAM) {
    wchar_t className[16] = {};
    if (::GetClassNameW(window, className, 16) && std::wcscmp(className, L"#32770") == 0) {
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(window, IDOK)));
    }
    return TRUE;
}

}  // namespace

void DismissMessageBoxes(ThreadHandle thread) {
    const DWORD id = ::GetThreadId(FromWord<HANDLE>(static_cast<std::uintptr_t>(thread)));
    if (id != 0) ::EnumThreadWindows(id, DismissIfMessageBox, 0);
}

bool Shell_NotifyIconW(std::uint32_t message, const NotifyIconData* data) {
    if (!data) return false;
    // The desktop record is larger than the one the core fills (its cbSize is
    // the small device's); the shell is told the desktop size.
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = FromWord<HWND>(static_cast<std::uintptr_t>(data->hWnd));
    nid.uID = data->uID;
    nid.uFlags = data->uFlags & (NIF_MESSAGE | NIF_ICON | NIF_TIP);
    nid.uCallbackMessage = data->uCallbackMessage;
    nid.hIcon = FromWord<HICON>(static_cast<std::uintptr_t>(data->hIcon));
    static_assert(sizeof nid.szTip >= sizeof data->szTip);
    std::memcpy(nid.szTip, data->szTip, sizeof data->szTip);
    nid.szTip[std::size(data->szTip) - 1] = 0;
    return ::Shell_NotifyIconW(message, &nid) != FALSE;
}

std::uint32_t ExtractIconExW(const char16_t* file, std::int32_t index, IconHandle* largeIcons,
                             IconHandle* smallIcons, std::uint32_t icons) {
    static_assert(sizeof(HICON) == sizeof(IconHandle));
    return ::ExtractIconExW(reinterpret_cast<const wchar_t*>(file), index,
                            reinterpret_cast<HICON*>(largeIcons),
                            reinterpret_cast<HICON*>(smallIcons), icons);
}

}  // namespace platform
