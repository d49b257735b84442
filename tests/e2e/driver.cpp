// What a user or the shell does to the program, for the end-to-end tests:
// finds the dialog by its caption and reads or posts what they would —
// captions, visibility, combo selections, button clicks, the tray icon's
// callback message. One command per run; results on stdout, one per line.
//   state                 caption, visibility and every control of the dialog
//   click ID              the button ID is clicked
//   select ID INDEX       item INDEX of combo ID is picked
//   enter                 Enter pressed in the dialog (its IDOK command)
//   tray left|right       the tray icon is clicked
//   windows               every top-level window (class, caption, process)
//   trayicons             the icons Wine's stand-alone tray window shows
//   boxes                 every message box: caption and text
//   keysdown              the virtual keys the desktop holds down, one line
//   notepad [focus]       the text of Notepad's edit control: "text" and its
//                         UTF-16 units in hex, or "nonotepad"; with focus,
//                         Notepad is made the foreground window first
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

constexpr UINT kTrayMessage = WM_USER + 100;
constexpr WPARAM kTrayId = 126;

std::string Utf8(const wchar_t* text) {
    char out[1024];
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
    return n > 0 ? std::string(out) : std::string();
}

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    wchar_t cls[32] = {};
    wchar_t caption[256] = {};
    GetClassNameW(window, cls, 32);
    GetWindowTextW(window, caption, 256);
    if (std::wcscmp(cls, L"#32770") == 0 && std::wcsncmp(caption, L"QuorvelCE", 9) == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

HWND Dialog() {
    HWND found = nullptr;
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

void PrintControl(HWND control) {
    const int id = GetDlgCtrlID(control);
    wchar_t cls[32] = {};
    GetClassNameW(control, cls, 32);
    wchar_t text[256] = {};
    GetWindowTextW(control, text, 256);
    // The control's own visibility: a hidden dialog hides all its controls
    // from IsWindowVisible, but the program shows and hides them one by one.
    const bool shown = (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
    std::printf("control %d visible=%d text=%s", id, shown ? 1 : 0, Utf8(text).c_str());
    if (_wcsicmp(cls, L"ComboBox") == 0) {
        const LRESULT sel = SendMessageW(control, CB_GETCURSEL, 0, 0);
        const LRESULT count = SendMessageW(control, CB_GETCOUNT, 0, 0);
        std::printf(" sel=%d items=", static_cast<int>(sel));
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t item[256] = {};
            if (SendMessageW(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 255) {
                SendMessageW(control, CB_GETLBTEXT, static_cast<WPARAM>(i),
                             reinterpret_cast<LPARAM>(item));
            }
            std::printf("%s%s", i ? "|" : "", Utf8(item).c_str());
        }
    }
    std::printf("\n");
}

BOOL CALLBACK PrintChild(HWND control, LPARAM) {
    PrintControl(control);
    return TRUE;
}

BOOL CALLBACK PrintWindow(HWND window, LPARAM) {
    wchar_t cls[64] = {};
    wchar_t caption[256] = {};
    GetClassNameW(window, cls, 64);
    GetWindowTextW(window, caption, 256);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    std::printf("window %p pid=%lu visible=%d class=%s caption=%s\n", static_cast<void*>(window),
                pid, IsWindowVisible(window) ? 1 : 0, Utf8(cls).c_str(), Utf8(caption).c_str());
    return TRUE;
}

BOOL CALLBACK PrintBox(HWND window, LPARAM) {
    wchar_t cls[32] = {};
    wchar_t caption[256] = {};
    GetClassNameW(window, cls, 32);
    GetWindowTextW(window, caption, 256);
    if (std::wcscmp(cls, L"#32770") != 0 || std::wcsncmp(caption, L"QuorvelCE", 9) == 0) {
        return TRUE;
    }
    // A message box's text is its static control 0xFFFF.
    wchar_t text[512] = {};
    GetDlgItemTextW(window, 0xFFFF, text, 512);
    std::printf("box visible=%d caption=%s text=%s\n", IsWindowVisible(window) ? 1 : 0,
                Utf8(caption).c_str(), Utf8(text).c_str());
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::wstring command = argv[1];
    if (command == L"windows") {
        EnumWindows(PrintWindow, 0);
        return 0;
    }
    if (command == L"notepad") {
        HWND notepad = FindWindowW(L"Notepad", nullptr);
        HWND edit =
            notepad != nullptr ? FindWindowExW(notepad, nullptr, L"Edit", nullptr) : nullptr;
        if (edit == nullptr) {
            std::printf("nonotepad\n");
            return 0;
        }
        if (argc > 2 && std::wcscmp(argv[2], L"focus") == 0) SetForegroundWindow(notepad);
        const LRESULT length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        SendMessageW(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
        std::printf("text ");
        for (LRESULT i = 0; i < length; ++i) std::printf("%04x", static_cast<unsigned>(text[i]));
        std::printf("\n");
        return 0;
    }
    if (command == L"keysdown") {
        // Left and right Shift, Control and Alt stand for the generic three.
        for (int key = 1; key < 256; ++key) {
            const bool sided = key >= VK_LSHIFT && key <= VK_RMENU;
            if (!sided && (GetAsyncKeyState(key) & 0x8000) != 0) std::printf("%d ", key);
        }
        std::printf("\n");
        return 0;
    }
    if (command == L"boxes") {
        EnumWindows(PrintBox, 0);
        return 0;
    }
    if (command == L"trayicons") {
        // With no tray of the desktop's own, Wine shows the icons in a window of
        // its explorer, one child each, and hides it when none is left.
        HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
        int icons = 0;
        for (HWND child = tray ? GetWindow(tray, GW_CHILD) : nullptr; child;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if (IsWindowVisible(child)) ++icons;
        }
        std::printf("tray visible=%d children=%d\n", tray && IsWindowVisible(tray) ? 1 : 0, icons);
        return 0;
    }
    HWND dialog = Dialog();
    if (!dialog) {
        std::printf("nodialog\n");
        return 1;
    }
    if (command == L"state") {
        wchar_t caption[256] = {};
        GetWindowTextW(dialog, caption, 256);
        std::printf("caption %s\n", Utf8(caption).c_str());
        std::printf("visible %d\n", IsWindowVisible(dialog) ? 1 : 0);
        std::printf("iconic %d\n", IsIconic(dialog) ? 1 : 0);
        std::printf("foreground %d\n", GetForegroundWindow() == dialog ? 1 : 0);
        RECT rect{};
        GetWindowRect(dialog, &rect);
        std::printf("rect %ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top);
        EnumChildWindows(dialog, PrintChild, 0);
        return 0;
    }
    if (command == L"click" && argc > 2) {
        const int id = _wtoi(argv[2]);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
        return 0;
    }
    if (command == L"select" && argc > 3) {
        const int id = _wtoi(argv[2]);
        HWND combo = GetDlgItem(dialog, id);
        if (SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(_wtoi(argv[3])), 0) == CB_ERR) {
            return 1;
        }
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        return 0;
    }
    if (command == L"enter") {
        // What the dialog manager sends for Enter when no push button has the
        // focus, and what the caption's OK button sends.
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return 0;
    }
    if (command == L"close") {
        // What the caption's close button sends.
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    }
    if (command == L"escape") {
        // The key itself, to the focused control: the dialog manager of the
        // modal loop makes it the cancel command.
        HWND focus = GetWindow(dialog, GW_CHILD);
        for (HWND c = focus; c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
            if (IsWindowVisible(c) && IsWindowEnabled(c) &&
                (GetWindowLongW(c, GWL_STYLE) & WS_TABSTOP)) {
                focus = c;
                break;
            }
        PostMessageW(focus != nullptr ? focus : dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(focus != nullptr ? focus : dialog, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        return 0;
    }
    if (command == L"tray" && argc > 2) {
        const LPARAM action = std::wcscmp(argv[2], L"right") == 0 ? WM_RBUTTONDOWN : WM_LBUTTONDOWN;
        PostMessageW(dialog, kTrayMessage, kTrayId, action);
        return 0;
    }
    return 2;
}
