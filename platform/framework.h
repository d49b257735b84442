// The small dialog framework the main dialog is written against: one
// application object, a modal dialog built from the template it is given, control
// objects bound by id, a message map, timers and message boxes owned by the
// dialog. Only what the main dialog uses.
//
// Who implements what:
// - platform/framework.cpp (portable, shared by every backend): the message
//   dispatch (WindowProc, the map, kIdOk/kIdCancel), the base OnInitDialog (the
//   template's combo lists, then DoDataExchange), DDX_Control, the dialog-owned
//   message box, CWinApp and RunApplication.
// - platform/<backend>/framework.cpp: the window side, i.e. every member marked
//   "backend" below.
// A dialog is handed the template it is built from (platform/dialog_template.h).
// A backend's window procedure hands every message to the dialog's virtual
// WindowProc, except the creation itself, for which DoModal calls the virtual
// OnInitDialog once the controls exist (GetDlgItem must work by then).
//
// Constants are named as in platform/services.h: kWmCommand for WM_COMMAND.
#pragma once

#include <cstdint>

#include "platform/dialog_template.h"
#include "platform/services.h"

namespace platform {

using WParam = std::uintptr_t;  // WPARAM
using LParam = std::intptr_t;   // LPARAM
using LResult = std::intptr_t;  // LRESULT

// Messages.
inline constexpr std::uint32_t kWmDestroy = 0x0002;
inline constexpr std::uint32_t kWmSetIcon = 0x0080;
inline constexpr std::uint32_t kWmCommand = 0x0111;      // 273
inline constexpr std::uint32_t kWmTimer = 0x0113;        // 275
inline constexpr std::uint32_t kWmLButtonDown = 0x0201;  // 513
inline constexpr std::uint32_t kWmRButtonDown = 0x0204;  // 516
inline constexpr std::uint32_t kWmUser = 0x0400;

inline constexpr WParam kIconSmall = 0;
inline constexpr WParam kIconBig = 1;

// ShowWindow commands.
inline constexpr int kSwHide = 0;
inline constexpr int kSwShowNormal = 1;
inline constexpr int kSwMinimize = 6;

// Buttons.
inline constexpr std::uint32_t kBnClicked = 0;
inline constexpr std::uint32_t kBmGetCheck = 0x00F0;
inline constexpr std::uint32_t kBmSetCheck = 0x00F1;
inline constexpr WParam kBstUnchecked = 0;
inline constexpr WParam kBstChecked = 1;

// Combo boxes.
inline constexpr LResult kCbErr = -1;
inline constexpr std::uint32_t kCbAddString = 0x0143;  // lParam: text; result: position
inline constexpr std::uint32_t kCbGetCount = 0x0146;
inline constexpr std::uint32_t kCbGetCurSel = 0x0147;     // result: position or kCbErr
inline constexpr std::uint32_t kCbGetLbText = 0x0148;     // wParam: position; lParam: buffer
inline constexpr std::uint32_t kCbGetLbTextLen = 0x0149;  // wParam: position
inline constexpr std::uint32_t kCbInsertString = 0x014A;  // wParam: position; lParam: text
inline constexpr std::uint32_t kCbFindString = 0x014C;  // wParam: start (-1 = all); lParam: prefix
inline constexpr std::uint32_t kCbSetCurSel = 0x014E;   // wParam: position (-1 clears)

// Styles the simulator looks at.
inline constexpr std::uint32_t kWsVisible = 0x10000000u;
inline constexpr std::uint32_t kCbsSort = 0x0100;

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
    std::uint32_t code = 0;              // kWmCommand: notification code (kBnClicked)
    std::uint32_t id = 0;                // kWmCommand: control id
    CommandHandler onCommand = nullptr;  // kWmCommand and kWmDestroy
    TimerHandler onTimer = nullptr;      // kWmTimer, with wParam as the timer id
};

// A class's own entries, then its base class's map.
struct MessageMap {
    const MessageMap* base;
    const MessageMapEntry* entries;
};

template <class T>
MessageMapEntry OnBnClicked(std::uint32_t controlId, void (T::*handler)()) {
    return {kWmCommand, kBnClicked, controlId, static_cast<CommandHandler>(handler), nullptr};
}
template <class T>
MessageMapEntry OnWmTimer(void (T::*handler)(std::uintptr_t)) {
    return {kWmTimer, 0, 0, nullptr, static_cast<TimerHandler>(handler)};
}
template <class T>
MessageMapEntry OnWmDestroy(void (T::*handler)()) {
    return {kWmDestroy, 0, 0, static_cast<CommandHandler>(handler), nullptr};
}

// A window: the dialog itself or one of its controls. A control object acts
// on the control window DDX_Control attached it to.
class CWnd {
  public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd();

    WindowHandle GetSafeHwnd() const { return m_hWnd; }

    // backend: window operations on this object's window.
    bool ShowWindow(int command);  // true when the window was visible before
    bool SetWindowTextW(const char16_t* text);
    LResult SendMessageW(std::uint32_t message, WParam wParam = 0, LParam lParam = 0);
    bool SetForegroundWindow();
    // Posts kWmTimer with `id` about every `elapse` ms until KillTimer or the
    // window is destroyed. Returns `id`, or 0 on failure.
    std::uintptr_t SetTimer(std::uintptr_t id, std::uint32_t elapse);
    bool KillTimer(std::uintptr_t id);
    // The control window with this id inside this (dialog) window; kNoWindow if none.
    WindowHandle GetDlgItem(int id) const;

    // A message box owned by this window (blocks until dismissed).
    std::int32_t MessageBoxW(const char16_t* text, const char16_t* caption = nullptr,
                             std::uint32_t type = kMbOk);

    // Every message the window receives enters here. The default hands it to
    // the message map and, if nothing there handles it, to DefWindowProcW.
    virtual LResult WindowProc(std::uint32_t message, WParam wParam, LParam lParam);
    // backend: the platform's own processing of a message.
    virtual LResult DefWindowProcW(std::uint32_t message, WParam wParam, LParam lParam);

    WindowHandle m_hWnd = kNoWindow;

  protected:
    // Default processing of the message now being handled.
    LResult Default();
    // Base handlers a derived handler calls to pass its message on.
    void OnTimer(std::uintptr_t timerId);
    void OnDestroy();

    virtual const MessageMap* GetMessageMap() const;
    // true when a handler took the message; `result` then holds its result.
    bool OnWndMsg(std::uint32_t message, WParam wParam, LParam lParam, LResult* result);
    // kWmCommand that no map entry took; true when handled.
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
    void SetCheck(WParam state) { SendMessageW(kBmSetCheck, state, 0); }
};

class CStatic : public CWnd {};

class CComboBox : public CWnd {
  public:
    int AddString(const char16_t* text) {
        return static_cast<int>(SendMessageW(kCbAddString, 0, ToLParam(text)));
    }
    int InsertString(int index, const char16_t* text) {
        return static_cast<int>(
            SendMessageW(kCbInsertString, static_cast<WParam>(index), ToLParam(text)));
    }
    // First item at or after `startAfter` + 1 (-1: from the first item) whose
    // text begins with `prefix`, letter case ignored; kCbErr if none.
    int FindString(int startAfter, const char16_t* prefix) {
        return static_cast<int>(
            SendMessageW(kCbFindString, static_cast<WParam>(startAfter), ToLParam(prefix)));
    }
    int SetCurSel(int index) {
        return static_cast<int>(SendMessageW(kCbSetCurSel, static_cast<WParam>(index), 0));
    }
    int GetCurSel() { return static_cast<int>(SendMessageW(kCbGetCurSel, 0, 0)); }
    int GetCount() { return static_cast<int>(SendMessageW(kCbGetCount, 0, 0)); }
    int GetLBTextLen(int index) {
        return static_cast<int>(SendMessageW(kCbGetLbTextLen, static_cast<WParam>(index), 0));
    }
    // Copies item `index` with its terminator into `buffer`, which must hold
    // GetLBTextLen(index) + 1 units. Returns the length or kCbErr.
    int GetLBText(int index, char16_t* buffer) {
        return static_cast<int>(
            SendMessageW(kCbGetLbText, static_cast<WParam>(index), ToLParam(buffer)));
    }

    static LParam ToLParam(const char16_t* text) { return reinterpret_cast<LParam>(text); }
};

// Attaches the control window `id` of the exchanging dialog to `control`.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

// A modal dialog built from the template it is given, which must outlive it.
class CDialog : public CWnd {
  public:
    explicit CDialog(const DialogTemplate& dialogTemplate, CWnd* parent = nullptr);
    ~CDialog() override;

    // backend: creates the window from the template, calls OnInitDialog, runs
    // the modal loop on the calling thread until EndDialog, destroys the window
    // (kWmDestroy reaches the map) and returns the result. After an EndDialog
    // inside OnInitDialog the loop is never entered. -1 if the window could
    // not be created.
    std::intptr_t DoModal();
    // backend: ends the modal loop with `result` (once the current message is done).
    void EndDialog(std::intptr_t result);

    // Adds the template's combo lists to their combos, then DoDataExchange.
    virtual bool OnInitDialog();
    bool UpdateData(bool saveAndValidate = true);

    const DialogTemplate& Template() const { return m_template; }

  protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    // kIdOk / kIdCancel commands (Enter, Escape, the caption's buttons).
    virtual void OnOK();      // ends the dialog with kIdOk
    virtual void OnCancel();  // ends the dialog with kIdCancel

    bool OnCommand(WParam wParam, LParam lParam) override;

    const DialogTemplate& m_template;
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
