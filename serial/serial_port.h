// The serial port: opening and configuring "COM%d:", closing it exactly once
// per open whichever thread comes first, and the once-a-second modem-line watch.
#pragma once

#include <atomic>

#include "platform/services.h"

// kNoPort before the first open; kInvalidPort after a failed one.
extern std::atomic<platform::PortHandle> SerialPortHandle;

// true: open and configured; false: the open failed, or the driver refused
// the line settings (the port is closed again), and GetLastError() tells why.
bool OpenSerialPort();
// Closes the port if this open has not been closed yet; a wait pending in the
// reception thread then fails.
void CloseSerialPort();
// One tick of the watch (dialog thread, timer 103): raise RTS until CTS is seen.
void WatchModemLines();
