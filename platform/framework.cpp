// The portable half of the dialog framework, shared by every backend: message
// dispatch through the message map, the dialog's default commands and
// initialisation, control binding, the application object and its entry.
#include "platform/framework.h"

namespace platform {

// ---------------------------------------------------------------------------
// CWnd

CWnd::~CWnd() = default;

LResult CWnd::WindowProc(std::uint32_t message, WParam wParam, LParam lParam) {
    LResult result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProcW(message, wParam, lParam);
    return result;
}

LResult CWnd::Default() {
    return DefWindowProcW(m_current.message, m_current.wParam, m_current.lParam);
}

void CWnd::OnTimer(std::uintptr_t) {
    Default();
}

void CWnd::OnDestroy() {
    Default();
}

const MessageMap* CWnd::GetMessageMap() const {
    static const MessageMapEntry entries[] = {{}};
    static const MessageMap map = {nullptr, entries};
    return &map;
}

bool CWnd::OnWndMsg(std::uint32_t message, WParam wParam, LParam lParam, LResult* result) {
    // Handlers may send messages of their own (and those may be dispatched
    // here again), so the message Default() refers to is kept per nesting level.
    const CurrentMessage outer = m_current;
    m_current = {message, wParam, lParam};
    *result = 0;

    const auto id = static_cast<std::uint32_t>(wParam & 0xFFFFu);
    const auto code = static_cast<std::uint32_t>((wParam >> 16) & 0xFFFFu);
    const MessageMapEntry* found = nullptr;
    if (message == kWmCommand || message == kWmTimer || message == kWmDestroy) {
        for (const MessageMap* map = GetMessageMap(); map != nullptr && found == nullptr;
             map = map->base) {
            for (const MessageMapEntry* e = map->entries; e->message != 0; ++e) {
                if (e->message != message) continue;
                if (message == kWmCommand && (e->id != id || e->code != code)) continue;
                found = e;
                break;
            }
        }
    }

    bool handled = true;
    if (found != nullptr && found->onTimer != nullptr) {
        (this->*(found->onTimer))(wParam);
    } else if (found != nullptr && found->onCommand != nullptr) {
        (this->*(found->onCommand))();
    } else if (message == kWmCommand) {
        handled = OnCommand(wParam, lParam);
    } else {
        handled = false;
    }
    m_current = outer;
    return handled;
}

bool CWnd::OnCommand(WParam, LParam) {
    return false;
}

std::int32_t CWnd::MessageBoxW(const char16_t* text, const char16_t* caption, std::uint32_t type) {
    return platform::MessageBoxW(m_hWnd, text, caption, type);
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    // Binding is the same in both directions: the object just names the window.
    control.m_hWnd = pDX->m_pDlgWnd->GetDlgItem(id);
}

// ---------------------------------------------------------------------------
// CDialog

const ComboList* FindComboList(const DialogTemplate& dialog, int id) {
    for (int i = 0; i < dialog.comboListCount; ++i)
        if (dialog.comboLists[i].controlId == id) return &dialog.comboLists[i];
    return nullptr;
}

CDialog::CDialog(const DialogTemplate& dialogTemplate, CWnd* parent)
    : m_template(dialogTemplate), m_pParentWnd(parent) {}

CDialog::~CDialog() = default;

bool CDialog::OnInitDialog() {
    for (int i = 0; i < m_template.comboListCount; ++i) {
        const ComboList& list = m_template.comboLists[i];
        CWnd combo;
        combo.m_hWnd = GetDlgItem(list.controlId);
        if (combo.m_hWnd == kNoWindow) continue;
        for (int item = 0; item < list.count; ++item)
            combo.SendMessageW(kCbAddString, 0, reinterpret_cast<LParam>(list.items[item]));
    }
    UpdateData(false);
    return true;
}

bool CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return true;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
    EndDialog(kIdOk);
}

void CDialog::OnCancel() {
    EndDialog(kIdCancel);
}

bool CDialog::OnCommand(WParam wParam, LParam) {
    // Enter and Escape arrive as the commands of buttons kIdOk and kIdCancel
    // (notification 0), or from an accelerator (1).
    const auto id = static_cast<std::int32_t>(wParam & 0xFFFFu);
    const auto code = (wParam >> 16) & 0xFFFFu;
    if (code > 1) return false;
    if (id == kIdOk) {
        OnOK();
        return true;
    }
    if (id == kIdCancel) {
        OnCancel();
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// CWinApp

namespace {
CWinApp* theApplication = nullptr;
}

CWinApp::CWinApp(const char16_t* appName) : m_pszAppName(appName) {
    theApplication = this;
}

CWinApp::~CWinApp() {
    if (theApplication == this) theApplication = nullptr;
}

bool CWinApp::InitInstance() {
    return true;
}

CWinApp* AfxGetApp() {
    return theApplication;
}

int RunApplication() {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return -1;
    // FALSE from InitInstance means the program's work is done: no loop.
    if (!app->InitInstance()) return 0;
    return app->Run();
}

}  // namespace platform
