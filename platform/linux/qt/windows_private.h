// The windows the dialog framework made (framework.cpp), as the shell and the
// tests reach them, and the quit the framework takes when the whole
// application is asked to end.
#pragma once

#include <QWidget>

#include "platform/services.h"

namespace platform::qt {

// A window handle names a live widget the framework made (a dialog or one of
// its controls); kNoWindow and handles of destroyed windows give null.
QWidget* WidgetOf(WindowHandle window);
WindowHandle HandleOf(QWidget* widget);

// What a modal dialog runs when an application-wide exit ends its loop
// (the shell's quit by the tray); without one, the dialog is cancelled.
// GUI thread only.
void SetQuitHandler(void (*quit)());

}  // namespace platform::qt
