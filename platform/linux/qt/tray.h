// The tray side of the Qt shell (shell.cpp), for the program's entry and the
// tests: the tray icon, and every way the program is asked to end from
// outside, taken as the tray icon's right click takes it.
#pragma once

#include <QSystemTrayIcon>
#include <cstdint>

#include "platform/services.h"

namespace platform::qt {

// The tray icon that kNimAdd made for (window, id), or null. GUI thread only.
QSystemTrayIcon* TrayIcon(WindowHandle window, std::uint32_t id);

// Ends the program the way a right click on its tray icon does (reception
// ended with no key left down, port closed, icon removed), and answers every
// message box still open so that nothing waits on a box nobody will see.
// Without a tray icon yet, the main window is cancelled instead. GUI thread only.
void QuitAsFromTray();

// Makes SIGTERM, SIGINT and SIGHUP, the desktop session's end, and an
// application-wide exit under a modal dialog run QuitAsFromTray on the GUI
// thread. Call once, after QApplication exists.
void RouteQuitRequestsToTray();

}  // namespace platform::qt
