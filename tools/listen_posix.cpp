// Linux side of `listen`: SIGINT and SIGTERM set the stop flag (no SA_RESTART
// is needed: the port's reads end within a second anyway), and COMn resolves
// through the settings file's folder as in the program.
#include <csignal>

#include "platform/linux/serial/port_names.h"
#include "tools/listen_os.h"

namespace {

std::atomic<bool>* stopFlag = nullptr;

void OnSignal(int) {
    if (stopFlag != nullptr) stopFlag->store(true);
}

}  // namespace

void CatchInterrupt(std::atomic<bool>* stop) {
    stopFlag = stop;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void UsePortLinksBeside(const char16_t* settingsPath) {
    platform::linux_backend::SetPortsFolderOf(settingsPath);
}
