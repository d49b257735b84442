// Puts the reception side of the simulated platform back to its start: no
// reception thread left over, virtual clock, fresh devices, keyboard, shell,
// tray and thread counts, and reception connected to the program's run state.
// Shared by the serial and whole-program fixtures.
#pragma once

#include "app/run_state.h"
#include "platform/sim/keyboard.h"
#include "platform/sim/serial.h"
#include "platform/sim/shell.h"
#include "platform/sim/threads.h"
#include "serial/reception.h"

inline void ResetReceptionPlatform() {
    AwaitReceptionThreadEnd(platform::kNoThread);
    ConnectReception(RunStateLinks);
    platform::sim::SetClockMode(platform::sim::ClockMode::Virtual);
    platform::sim::ResetSerial();
    platform::sim::ResetKeyboard();
    platform::sim::ResetShell();
    platform::sim::ResetTray();
    platform::sim::ResetThreadStats();
}
