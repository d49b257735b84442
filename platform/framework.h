// The small dialog framework the main dialog is written against: one
// application object, a modal dialog built from a template id, control
// objects bound by id, a message map, timers and message boxes owned by the
// dialog. Only what the main dialog uses.
//
// Who implements what:
// - platform/framework.cpp (portable, shared by every backend): the message
//   dispatch (WindowProc, the map, IDOK/IDCANCEL), the base OnInitDialog (the
//   template's combo lists, then DoDataExchange), DDX_Control, the dialog-owned
//   message box, CWinApp and RunApplication.
// - platform/<backend>/framework.cpp: the window side, i.e. every member marked
//   "backend" below.
// The template a dialog is built from comes from app/resources/dialog_template.h.
// A backend's window procedure hands every message to the dialog's virtual
// WindowProc, except the creation itself, for which DoModal calls the virtual
// OnInitDialog once the controls exist (GetDlgItem must work by then).
//
// Constants keep their Windows names and values inside namespace platform; a
// win32 file includes this header before <windows.h>.
#pragma once

#include <cstdint>

#include "platform/services.h"

namespace platform {

using WParam = std::uintptr_t;  // WPARAM
using LParam = std::intptr_t;   // LPARAM
using LResult = std::intptr_t;  // LRESULT

// Messages.
inline constexpr std::uint32_t WM_DESTROY = 0x0002;
inline constexpr std::uint32_t WM_SETICON = 0x0080;
inline constexpr std::uint32_t WM_INITDIALOG = 0x0110;
inline constexpr std::uint32_t WM_COMMAND = 0x0111;      // 273
inline constexpr std::uint32_t WM_TIMER = 0x0113;        // 275
inline constexpr std::uint32_t WM_LBUTTONDOWN = 0x0201;  // 513
inline constexpr std::uint32_t WM_RBUTTONDOWN = 0x0204;  // 516
inline constexpr std::uint32_t WM_USER = 0x0400;

inline constexpr WParam ICON_SMALL = 0;
inline constexpr WParam ICON_BIG = 1;

// ShowWindow commands.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_MINIMIZE = 6;

// Buttons.
inline constexpr std::uint32_t BN_CLICKED = 0;
inline constexpr std::uint32_t BM_GETCHECK = 0x00F0;
inline constexpr std::uint32_t BM_SETCHECK = 0x00F1;
inline constexpr WParam BST_UNCHECKED = 0;
inline constexpr WParam BST_CHECKED = 1;

// Combo boxes.
inline constexpr LResult CB_ERR = -1;
inline constexpr std::uint32_t CB_ADDSTRING = 0x0143;  // lParam: text; result: position
inline constexpr std::uint32_t CB_GETCOUNT = 0x0146;
inline constexpr std::uint32_t CB_GETCURSEL = 0x0147;     // result: position or CB_ERR
inline constexpr std::uint32_t CB_GETLBTEXT = 0x0148;     // wParam: position; lParam: buffer
inline constexpr std::uint32_t CB_GETLBTEXTLEN = 0x0149;  // wParam: position
inline constexpr std::uint32_t CB_INSERTSTRING = 0x014A;  // wParam: position; lParam: text
inline constexpr std::uint32_t CB_FINDSTRING = 0x014C;  // wParam: start (-1 = all); lParam: prefix
inline constexpr std::uint32_t CB_SETCURSEL = 0x014E;   // wParam: position (-1 clears)

// Window and control styles used by the template.
inline constexpr std::uint32_t WS_POPUP = 0x80000000u;
inline constexpr std::uint32_t WS_CHILD = 0x40000000u;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000u;
inline constexpr std::uint32_t WS_DISABLED = 0x08000000u;
inline constexpr std::uint32_t WS_CAPTION = 0x00C00000u;
inline constexpr std::uint32_t WS_VSCROLL = 0x00200000u;
inline constexpr std::uint32_t WS_SYSMENU = 0x00080000u;
inline constexpr std::uint32_t WS_GROUP = 0x00020000u;
inline constexpr std::uint32_t WS_TABSTOP = 0x00010000u;
inline constexpr std::uint32_t DS_SETFONT = 0x00000040u;
inline constexpr std::uint32_t DS_MODALFRAME = 0x00000080u;
inline constexpr std::uint32_t WS_EX_CAPTIONOKBTN = 0x80000000u;  // an OK button in the caption
inline constexpr std::uint32_t BS_PUSHBUTTON = 0x0000;
inline constexpr std::uint32_t BS_GROUPBOX = 0x0007;
inline constexpr std::uint32_t BS_AUTORADIOBUTTON = 0x0009;
inline constexpr std::uint32_t SS_LEFT = 0x0000;
inline constexpr std::uint32_t SS_BITMAP = 0x000E;
inline constexpr std::uint32_t CBS_DROPDOWNLIST = 0x0003;
inline constexpr std::uint32_t CBS_SORT = 0x0100;

class CWnd;
class CDialog;

// What DoDataExchange binds with: the dialog whose controls are meant.
class CDataExchange {
  public:
    CDataExchange(CWnd* dialog, bool saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
    bool m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

// Handler shapes a message map can name. A derived class's handlers are
// stored as members of CWnd (derived-to-base member pointers, as the framework
// this stands in for does), so the map can call them on the dialog object.
using CommandHandler = void (CWnd::*)();
using TimerHandler = void (CWnd::*)(std::uintptr_t timerId);

struct MessageMapEntry {
    std::uint32_t message = 0;           // 0 ends a map
    std::uint32_t code = 0;              // WM_COMMAND: notification code (BN_CLICKED)
    std::uint32_t id = 0;                // WM_COMMAND: control id
    CommandHandler onCommand = nullptr;  // WM_COMMAND and WM_DESTROY
    TimerHandler onTimer = nullptr;      // WM_TIMER, with wParam as the timer id
};

// A class's own entries, then its base class's map.
struct MessageMap {
    const MessageMap* base;
    const MessageMapEntry* entries;
};

template <class T>
MessageMapEntry OnBnClicked(std::uint32_t controlId, void (T::*handler)()) {
    return {WM_COMMAND, BN_CLICKED, controlId, static_cast<CommandHandler>(handler), nullptr};
}
template <class T>
MessageMapEntry OnWmTimer(void (T::*handler)(std::uintptr_t)) {
    return {WM_TIMER, 0, 0, nullptr, static_cast<TimerHandler>(handler)};
}
template <class T>
MessageMapEntry OnWmDestroy(void (T::*handler)()) {
    return {WM_DESTROY, 0, 0, static_cast<CommandHandler>(handler), nullptr};
}

// A window: the dialog itself or one of its controls. A control object acts
// on the control window DDX_Control attached it to.
class CWnd {
  public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd();

    Handle GetSafeHwnd() const { return m_hWnd; }

    // backend: window operations on this object's window.
    bool ShowWindow(int command);  // true when the window was visible before
    bool SetWindowTextW(const char16_t* text);
    LResult SendMessageW(std::uint32_t message, WParam wParam = 0, LParam lParam = 0);
    bool SetForegroundWindow();
    // Posts WM_TIMER with `id` about every `elapse` ms until KillTimer or the
    // window is destroyed. Returns `id`, or 0 on failure.
    std::uintptr_t SetTimer(std::uintptr_t id, std::uint32_t elapse);
    bool KillTimer(std::uintptr_t id);
    // The control window with this id inside this (dialog) window; kNoHandle if none.
    Handle GetDlgItem(int id) const;

    // A message box owned by this window (blocks until dismissed).
    std::int32_t MessageBoxW(const char16_t* text, const char16_t* caption = nullptr,
                             std::uint32_t type = MB_OK);

    // Every message the window receives enters here. The default hands it to
    // the message map and, if nothing there handles it, to DefWindowProcW.
    virtual LResult WindowProc(std::uint32_t message, WParam wParam, LParam lParam);
    // backend: the platform's own processing of a message.
    virtual LResult DefWindowProcW(std::uint32_t message, WParam wParam, LParam lParam);

    Handle m_hWnd = kNoHandle;

  protected:
    // Default processing of the message now being handled.
    LResult Default();
    // Base handlers a derived handler calls to pass its message on.
    void OnTimer(std::uintptr_t timerId);
    void OnDestroy();

    virtual const MessageMap* GetMessageMap() const;
    // true when a handler took the message; `result` then holds its result.
    bool OnWndMsg(std::uint32_t message, WParam wParam, LParam lParam, LResult* result);
    // WM_COMMAND that no map entry took; true when handled.
    virtual bool OnCommand(WParam wParam, LParam lParam);

  private:
    struct CurrentMessage {
        std::uint32_t message = 0;
        WParam wParam = 0;
        LParam lParam = 0;
    };
    CurrentMessage m_current;
};

class CButton : public CWnd {
  public:
    void SetCheck(WParam state) { SendMessageW(BM_SETCHECK, state, 0); }
};

class CStatic : public CWnd {};

class CComboBox : public CWnd {
  public:
    int AddString(const char16_t* text) {
        return static_cast<int>(SendMessageW(CB_ADDSTRING, 0, ToLParam(text)));
    }
    int InsertString(int index, const char16_t* text) {
        return static_cast<int>(
            SendMessageW(CB_INSERTSTRING, static_cast<WParam>(index), ToLParam(text)));
    }
    // First item at or after `startAfter` + 1 (-1: from the first item) whose
    // text begins with `prefix`, letter case ignored; CB_ERR if none.
    int FindString(int startAfter, const char16_t* prefix) {
        return static_cast<int>(
            SendMessageW(CB_FINDSTRING, static_cast<WParam>(startAfter), ToLParam(prefix)));
    }
    int SetCurSel(int index) {
        return static_cast<int>(SendMessageW(CB_SETCURSEL, static_cast<WParam>(index), 0));
    }
    int GetCurSel() { return static_cast<int>(SendMessageW(CB_GETCURSEL, 0, 0)); }
    int GetCount() { return static_cast<int>(SendMessageW(CB_GETCOUNT, 0, 0)); }
    int GetLBTextLen(int index) {
        return static_cast<int>(SendMessageW(CB_GETLBTEXTLEN, static_cast<WParam>(index), 0));
    }
    // Copies item `index` with its terminator into `buffer`, which must hold
    // GetLBTextLen(index) + 1 units. Returns the length or CB_ERR.
    int GetLBText(int index, char16_t* buffer) {
        return static_cast<int>(
            SendMessageW(CB_GETLBTEXT, static_cast<WParam>(index), ToLParam(buffer)));
    }

    static LParam ToLParam(const char16_t* text) { return reinterpret_cast<LParam>(text); }
};

// Attaches the control window `id` of the exchanging dialog to `control`.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

// A modal dialog built from a template of app/resources.
class CDialog : public CWnd {
  public:
    explicit CDialog(std::uint32_t templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // backend: creates the window from the template, calls OnInitDialog, runs
    // the modal loop on the calling thread until EndDialog, destroys the window
    // (WM_DESTROY reaches the map) and returns the result. After an EndDialog
    // inside OnInitDialog the loop is never entered. -1 if the window could
    // not be created.
    std::intptr_t DoModal();
    // backend: ends the modal loop with `result` (once the current message is done).
    void EndDialog(std::intptr_t result);

    // Adds the template's combo lists to their combos, then DoDataExchange.
    virtual bool OnInitDialog();
    bool UpdateData(bool saveAndValidate = true);

    std::uint32_t TemplateId() const { return m_templateId; }

  protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    // IDOK / IDCANCEL commands (Enter, Escape, the caption's buttons).
    virtual void OnOK();      // ends the dialog with IDOK
    virtual void OnCancel();  // ends the dialog with IDCANCEL

    bool OnCommand(WParam wParam, LParam lParam) override;

    std::uint32_t m_templateId;
    CWnd* m_pParentWnd;
};

// The application object: exactly one global instance of a derived class.
class CWinApp {
  public:
    explicit CWinApp(const char16_t* appName = nullptr);
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    // Called once on the main thread; false ends the program at once.
    virtual bool InitInstance();
    // backend: the message loop after a true InitInstance; returns the exit code.
    virtual int Run();

    CWnd* m_pMainWnd = nullptr;
    const char16_t* m_pszAppName;
};

CWinApp* AfxGetApp();

// The framework's entry: a backend's process entry (WinMain, main) calls it on
// the main thread. Returns the exit code.
int RunApplication();

}  // namespace platform
