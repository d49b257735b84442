// Test controls of the simulated keyboard layouts and of the focused
// application: which layout the focused window has, the Caps Lock state, and
// the text the application made of the key events and characters it received.
#pragma once

#include <cstddef>
#include <string>

#include "platform/services.h"

namespace platform::sim {

// The layouts the simulator knows, by their X-style names: "us"; "fr"
// (AZERTY, dead ^ and ¨ on one key, dead ~ and ` with AltGr, Caps Lock
// shifting the digit row too); "de" (QWERTZ, dead ^, dead ´ and `); "lean" (letters,
// digits and space only, with é and É on AltGr and Shift+AltGr of the E
// key). Null for an unknown name.
KeyboardLayout SimulatedLayout(const char* name);
// The focused window's layout from now on ("us" after a reset).
void SetKeyboardLayout(const char* name);
// Caps Lock as the user sets it on the keyboard (off after a reset).
void SetCapsLock(bool on);
bool CapsLockOn();
// What the focused application has received since the reset, with the
// layout that is set: keys read with Shift, AltGr, Caps Lock and dead keys as
// the layout has them, Enter as "\r", Tab as "\t", and characters sent as
// themselves.
std::u16string TypedText();
// How many of those characters came as themselves rather than from a key.
std::size_t CharactersSentAsThemselves();
// The layout calls answer for the focused window's layout whatever layout
// they name, as X's do, and GetKeyboardLayout gives identities of their own
// (off after a reset).
void AnswerForTheLayoutInUse(bool on);
// After `queries` more ToUnicodeEx calls the focused layout becomes `name`:
// a layout change landing in the middle of whatever is asking.
void SwitchLayoutAfterQueries(std::size_t queries, const char* name);
// How often the layout was asked what a key types (ToUnicodeEx calls).
std::size_t LayoutQueryCount();
// The focused window from now on belongs to `program`, running at a higher
// integrity level than ours: keystrokes cannot reach it, and the events sent
// meanwhile are lost to the focused application. Null: a window they reach
// again (the state after a reset).
void SetForegroundWindowAbove(const char16_t* program);
// No window has the focus from now on (the secure desktop of an elevation
// prompt, the lock screen): the events sent meanwhile are lost. False: the
// focus is back (the state after a reset).
void SetNoForegroundWindow(bool none);

namespace detail {
// The keyboard recorder hands every event to the focused application; both
// run without allocating. ResetFocusedApplication sets room for `capacity`
// characters aside.
void ResetFocusedApplication(std::size_t capacity);
void ApplyKeyEvent(std::uint8_t virtualKey, bool release);
// A key named by its scan code alone, found on the focused layout as
// MapVirtualKeyExW gives it out: the virtual key Windows would make of it,
// 0 for a code no key has.
std::uint8_t KeyOfScanCode(std::uint16_t scanCode);
// Whether the focused application receives input now (not while a window
// above us or no window has the focus).
bool FocusedApplicationReceives();
void ApplyCharacter(char16_t character);
}  // namespace detail

}  // namespace platform::sim
