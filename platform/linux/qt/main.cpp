// The process entry of the Linux program: the toolkit's application object,
// the settings folder chosen (and the COMn links looked for there), the
// keystroke output opened, quit requests from outside routed to the tray's
// quit, then the framework.
#include <QApplication>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/framework.h"
#include "platform/linux/keyboard.h"
#include "platform/linux/qt/tray.h"
#include "platform/linux/serial/port_names.h"
#include "platform/linux/settings_location.h"
#include "platform/reports.h"
#include "platform/services.h"
#include "platform/text.h"

int main(int argc, char** argv) {
    using namespace platform::linux_backend;
    QApplication application(argc, argv);
    // The program lives in the tray: a hidden or closed window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("QuorvelCE"));

    std::vector<std::string> problems;
    const std::string folder = ChooseSettingsFolder(
        ExecutableFolder(), std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"), &problems);
    // Said by the dialog once reception runs: a box now would hold the
    // start-up, and the scanner with it, until someone answers.
    std::string said;
    for (const std::string& problem : problems) said += (said.empty() ? "" : "\n\n") + problem;
    if (!said.empty()) {
        char16_t text[platform::kReportCapacity];
        platform::DecodeUtf8Terminated(said.c_str(), text, platform::kReportCapacity);
        platform::PostReport(platform::ReportKind::kSettingsFolder, text);
    }
    SetModuleFolder(folder);
    SetPortsFolder(folder);

    // Now rather than at the first key: a new uinput device needs a moment
    // before the desktop reads it. A failure is shown at the first keystroke.
    platform::OpenKeyboardOutput();

    platform::qt::RouteQuitRequestsToTray();
    const int result = platform::RunApplication();
    // Reception has ended in order by now; nothing may stay pressed whatever
    // way the program ends.
    // A reception thread that outlived the quit's wait types nothing after this.
    platform::EndKeyboardOutput();
    return result;
}
