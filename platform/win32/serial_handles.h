// Serial port handles of the Windows backend are our own tagged words, not
// Windows handles, so that CloseHandle can tell a port (which must wake its
// waiters before it is released) from an event or a thread.
#pragma once

#include "platform/services.h"

namespace platform::win32 {

bool IsSerialHandle(Handle handle);
// Wakes every wait or read pending on the port in other threads, waits until
// they have left, then releases the port. False when the port is not open
// (already closed, or never was).
bool CloseSerialPortHandle(Handle handle);

}  // namespace platform::win32
