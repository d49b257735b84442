// Windows side of `listen`: Ctrl+C, Ctrl+Break and closing the console set
// the stop flag; ports are named COMn by the system itself.
#include <windows.h>

#include "tools/listen_os.h"

namespace {

std::atomic<bool>* stopFlag = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD type) {
    if (stopFlag == nullptr) return FALSE;
    stopFlag->store(true);
    // A closed console ends the process once this returns: the loop gets the
    // second it needs to see the flag and close the port.
    if (type == CTRL_CLOSE_EVENT) ::Sleep(1500);
    return TRUE;
}

}  // namespace

void CatchInterrupt(std::atomic<bool>* stop) {
    stopFlag = stop;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void UsePortLinksBeside(const char16_t*) {}
