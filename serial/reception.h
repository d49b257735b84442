// The reception thread: reads the scanner's bytes one at a time, translates
// them through the keyboard table, buffers a line and types it as key events.
#pragma once

#include <cstdint>

#include "platform/services.h"

// Entry of the reception thread (parameter unused); exit code 0 on every path.
std::uint32_t ReceptionThreadProc(void* parameter);

// Quit: ends the reception thread wherever it stands (typing, waiting,
// retrying, showing its message box) within about a second. It sends no
// further key event except releases of modifiers still pressed, clears the
// running flag and closes the port. Safe with no thread (kNoHandle).
void QuitReception(platform::Handle thread);

// Whether `thread` has ended (kNoHandle counts as ended). Start uses this to
// make sure there is never more than one reception thread.
bool ReceptionThreadEnded(platform::Handle thread);
