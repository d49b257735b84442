// The window side of the dialog framework on the real Windows API: the modal
// dialog is built in memory from the template it is handed (windres has no
// DLGINIT, so the one description serves every backend), its window is
// subclassed so that every message passes through CWnd::WindowProc, and
// WinMain runs the application object.
#include "platform/framework.h"

#include <windows.h>
// commctrl.h builds on windows.h.
#include <commctrl.h>

#include <cstddef>
#include <cstring>

namespace platform {

namespace {

// The framework object of a window and the window procedure it had before we
// took it over, kept as window properties.
constexpr wchar_t kObjectProperty[] = L"QuorvelCWnd";
constexpr wchar_t kProcProperty[] = L"QuorvelWndProc";

HWND Hwnd(WindowHandle handle) {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(handle));
}

CWnd* ObjectOf(HWND window) {
    return static_cast<CWnd*>(::GetPropW(window, kObjectProperty));
}

WNDPROC OriginalProcOf(HWND window) {
    return reinterpret_cast<WNDPROC>(::GetPropW(window, kProcProperty));
}

LRESULT CALLBACK FrameworkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* object = ObjectOf(window);
    const WNDPROC original = OriginalProcOf(window);
    if (!object || !original) return ::DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // The last message: give the window back and forget it.
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        ::RemovePropW(window, kObjectProperty);
        ::RemovePropW(window, kProcProperty);
        object->m_hWnd = kNoWindow;
        return ::CallWindowProcW(original, window, message, wParam, lParam);
    }
    return static_cast<LRESULT>(object->WindowProc(message, wParam, lParam));
}

// The dialog box procedure: WM_INITDIALOG binds the window to its object and
// calls OnInitDialog; everything else is the dialog manager's default.
INT_PTR CALLBACK FrameworkDialogProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) return FALSE;
    auto* dialog = reinterpret_cast<CDialog*>(lParam);
    dialog->m_hWnd = WindowHandle{reinterpret_cast<std::uintptr_t>(window)};
    ::SetPropW(window, kObjectProperty, static_cast<CWnd*>(dialog));
    const LONG_PTR original =
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FrameworkWindowProc));
    ::SetPropW(window, kProcProperty, reinterpret_cast<HANDLE>(original));
    return dialog->OnInitDialog() ? TRUE : FALSE;
}

// ---------------------------------------------------------------------------
// The in-memory DLGTEMPLATE. Static storage: nothing is allocated at run time.

class TemplateWriter {
  public:
    bool Word(std::uint16_t value) {
        if (used_ + 2 > sizeof buffer_) return false;
        std::memcpy(buffer_ + used_, &value, 2);
        used_ += 2;
        return true;
    }
    bool Dword(std::uint32_t value) {
        return Word(static_cast<std::uint16_t>(value & 0xFFFF)) &&
               Word(static_cast<std::uint16_t>(value >> 16));
    }
    bool Text(const char16_t* text) {
        for (; text && *text; ++text) {
            if (!Word(static_cast<std::uint16_t>(*text))) return false;
        }
        return Word(0);
    }
    bool AlignDword() {
        while (used_ % 4) {
            if (!Word(0)) return false;
        }
        return true;
    }
    void PatchWord(std::size_t offset, std::uint16_t value) {
        std::memcpy(buffer_ + offset, &value, 2);
    }
    std::size_t Used() const { return used_; }
    const DLGTEMPLATE* Template() const { return reinterpret_cast<const DLGTEMPLATE*>(buffer_); }

  private:
    alignas(4) unsigned char buffer_[8192] = {};
    std::size_t used_ = 0;
};

TemplateWriter templateBuffer;

// Predefined window classes by atom, as a dialog template names them.
std::uint16_t ClassAtom(ControlClass controlClass) {
    switch (controlClass) {
        case ControlClass::Button:
            return 0x0080;
        case ControlClass::Static:
            return 0x0082;
        case ControlClass::ComboBox:
            return 0x0085;
    }
    return 0x0082;
}

// The template's own extended style bit for an OK button in the caption
// exists only on the small devices the dialog was drawn for; desktop Windows
// gives that bit no meaning, so it is dropped.
constexpr std::uint32_t kCaptionOkButton = 0x80000000u;

// "System" at 8 points is the small device's dialog font; on the desktop the
// face of that name is a coarse bitmap font, so the dialog uses the desktop's
// own dialog face at the same size. Layout stays in dialog units either way.
constexpr char16_t kDesktopDialogFont[] = u"MS Shell Dlg";

const DLGTEMPLATE* BuildTemplate(const DialogTemplate& dialog) {
    TemplateWriter& w = templateBuffer;
    w = TemplateWriter{};
    bool ok = w.Dword(dialog.style) && w.Dword(dialog.exStyle & ~kCaptionOkButton);
    const std::size_t countOffset = w.Used();
    ok = ok && w.Word(0) && w.Word(static_cast<std::uint16_t>(dialog.x)) &&
         w.Word(static_cast<std::uint16_t>(dialog.y)) &&
         w.Word(static_cast<std::uint16_t>(dialog.cx)) &&
         w.Word(static_cast<std::uint16_t>(dialog.cy));
    ok = ok && w.Word(0) && w.Word(0) && w.Text(dialog.caption);  // no menu, default class
    if (dialog.style & DS_SETFONT) {
        ok = ok && w.Word(dialog.pointSize) && w.Text(kDesktopDialogFont);
    }
    std::uint16_t count = 0;
    for (int i = 0; ok && i < dialog.controlCount; ++i) {
        const DialogControl& c = dialog.controls[i];
        ok = w.AlignDword() && w.Dword(c.style) && w.Dword(c.exStyle) &&
             w.Word(static_cast<std::uint16_t>(c.x)) && w.Word(static_cast<std::uint16_t>(c.y)) &&
             w.Word(static_cast<std::uint16_t>(c.cx)) && w.Word(static_cast<std::uint16_t>(c.cy)) &&
             w.Word(static_cast<std::uint16_t>(c.id)) && w.Word(0xFFFF) &&
             w.Word(ClassAtom(c.controlClass));
        if (c.imageId != 0) {
            // A picture names its image resource by ordinal.
            ok = ok && w.Word(0xFFFF) && w.Word(static_cast<std::uint16_t>(c.imageId));
        } else {
            ok = ok && w.Text(c.text);
        }
        ok = ok && w.Word(0);  // no creation data
        ++count;
    }
    if (!ok) return nullptr;
    w.PatchWord(countOffset, count);
    return w.Template();
}

}  // namespace

// ---------------------------------------------------------------------------
// CWnd: window operations on this object's window.

bool CWnd::ShowWindow(int command) {
    return ::ShowWindow(Hwnd(m_hWnd), command) != FALSE;
}

bool CWnd::SetWindowTextW(const char16_t* text) {
    return ::SetWindowTextW(Hwnd(m_hWnd), reinterpret_cast<const wchar_t*>(text)) != FALSE;
}

LResult CWnd::SendMessageW(std::uint32_t message, WParam wParam, LParam lParam) {
    return static_cast<LResult>(::SendMessageW(Hwnd(m_hWnd), message, wParam, lParam));
}

bool CWnd::SetForegroundWindow() {
    return ::SetForegroundWindow(Hwnd(m_hWnd)) != FALSE;
}

std::uintptr_t CWnd::SetTimer(std::uintptr_t id, std::uint32_t elapse) {
    return ::SetTimer(Hwnd(m_hWnd), id, elapse, nullptr);
}

bool CWnd::KillTimer(std::uintptr_t id) {
    return ::KillTimer(Hwnd(m_hWnd), id) != FALSE;
}

WindowHandle CWnd::GetDlgItem(int id) const {
    return WindowHandle{reinterpret_cast<std::uintptr_t>(::GetDlgItem(Hwnd(m_hWnd), id))};
}

LResult CWnd::DefWindowProcW(std::uint32_t message, WParam wParam, LParam lParam) {
    const HWND window = Hwnd(m_hWnd);
    if (const WNDPROC original = OriginalProcOf(window)) {
        return static_cast<LResult>(::CallWindowProcW(original, window, message, wParam, lParam));
    }
    return static_cast<LResult>(::DefWindowProcW(window, message, wParam, lParam));
}

// ---------------------------------------------------------------------------
// CDialog

std::intptr_t CDialog::DoModal() {
    const DLGTEMPLATE* built = BuildTemplate(m_template);
    if (!built) return -1;
    const HWND parent = m_pParentWnd ? Hwnd(m_pParentWnd->m_hWnd) : nullptr;
    // EndDialog inside OnInitDialog makes the dialog manager destroy the
    // window without entering its loop, as the dialog relies on.
    return ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), built, parent,
                                     FrameworkDialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(std::intptr_t result) {
    ::EndDialog(Hwnd(m_hWnd), result);
}

// ---------------------------------------------------------------------------
// CWinApp

int CWinApp::Run() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace platform

// The process entry of the Windows program.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    return platform::RunApplication();
}
