// The process entry of the Linux program: the toolkit's application object,
// quit requests from outside routed to the tray's quit, then the framework.
#include <QApplication>

#include "platform/framework.h"
#include "platform/linux/qt_backend.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The program lives in the tray: a hidden or closed window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("QuorvelCE"));
    platform::qt::RouteQuitRequestsToTray();
    return platform::RunApplication();
}
