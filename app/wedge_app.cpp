// The application object and its one global instance.
#include "app/wedge_app.h"

#include "app/wedge_dlg.h"

CWedgeApp theApp;

CWedgeApp::CWedgeApp() : platform::CWinApp(nullptr) {}

CWedgeApp::~CWedgeApp() = default;

bool CWedgeApp::InitInstance() {
    CWedgeDlg dialog;
    m_pMainWnd = &dialog;
    // Every way the dialog ends leads to the same end of the program, so the
    // result is not looked at.
    dialog.DoModal();
    m_pMainWnd = nullptr;  // the object goes with this scope
    return false;
}
