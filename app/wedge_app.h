// The application object: the program's entry into the dialog framework. Its
// only task is to run the main dialog modally; when the dialog ends, so does
// the program.
#pragma once

#include "platform/framework.h"

class CWedgeApp : public platform::CWinApp {
  public:
    CWedgeApp();
    ~CWedgeApp() override;

    // Runs the main dialog and returns false, so the framework ends the
    // program instead of starting a message loop.
    bool InitInstance() override;
};

// The one application object, constructed by static initialisation.
extern CWedgeApp theApp;
