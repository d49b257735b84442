// What the Qt halves of the Linux backend (framework.cpp: windows and timers;
// shell.cpp: tray, message boxes, icons) share with each other, with the
// program's entry and with their tests. Not part of the seam: the core never
// includes it.
#pragma once

#include <QIcon>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

#include "platform/services.h"

namespace platform::qt {

// Windows. A window handle names a live widget the framework made (a dialog
// or one of its controls); kNoWindow and handles of destroyed windows give null.
QWidget* WidgetOf(WindowHandle window);
WindowHandle HandleOf(QWidget* widget);

// Icons. A handle from ExtractIconExW; an unknown one gives a null icon.
QIcon IconOf(IconHandle icon);

// The tray icon that kNimAdd made for (window, id), or null. GUI thread only.
QSystemTrayIcon* TrayIcon(WindowHandle window, std::uint32_t id);

// Ends the program the way a right click on its tray icon does (reception
// ended with no key left down, port closed, icon removed), and answers every
// message box still open so that nothing waits on a box nobody will see.
// Without a tray icon yet, the main window is cancelled instead. GUI thread only.
void QuitAsFromTray();

// Makes SIGTERM, SIGINT and SIGHUP, and the desktop session's end, run
// QuitAsFromTray on the GUI thread. Call once, after QApplication exists.
void RouteQuitRequestsToTray();

}  // namespace platform::qt
