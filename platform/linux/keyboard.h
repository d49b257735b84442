// Keystrokes on Linux beyond the seam, for the program's entry: an early open
// of the output, and letting go of every key when the program quits.
#pragma once

namespace platform {

// SetKeyHints (services.h) makes each VK_OEM_* key the key that types the
// table's character on the active layout.

// Opens the keystroke output now rather than at the first key event (a new
// uinput device needs a moment before the desktop reads it). Returns null, or
// the message naming what is missing; the first key event then shows it.
const char16_t* OpenKeyboardOutput();
// Releases every key our events hold down. Safe from any thread.
void ReleaseAllKeys();
// Releases every key and closes the output; the next key event opens it
// again (and shows its message again if it still cannot).
void CloseKeyboardOutput();
// Releases every key and closes the output for the rest of the run (the
// program's end): a reception thread that outlives the quit's wait types
// nothing more, and says nothing. OpenKeyboardOutput opens it again.
void EndKeyboardOutput();

}  // namespace platform
