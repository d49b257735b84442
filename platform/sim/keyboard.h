// Test controls of the simulated keyboard input: every key event the program
// sends, in order, with the (virtual) time it was sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/services.h"

namespace platform::sim {

struct KeyEvent {
    std::uint8_t virtualKey;
    std::uint8_t scanCode;
    std::uint32_t flags;
    std::uintptr_t extraInfo;
    std::uint64_t timeUs;
    char16_t character = 0;  // SendInput with kKeyEventFUnicode: the character sent
};

// Forgets every event, the key record and a kill to come, and the focused
// application's text and Caps Lock (platform/sim/layout.h), and sets aside
// room for `capacity` events: they are recorded into that storage without
// allocating, and those beyond it are only counted.
void ResetKeyboard(std::size_t capacity = 1 << 16);
// Events sent since the reset, recorded or not.
std::size_t KeyEventCount();
std::vector<KeyEvent> KeyEvents();
// The characters of the last PrepareCharacters, and how many events had been
// sent when it came.
std::u16string PreparedCharacters();
std::size_t PreparedAtEvent();
// Sum of every event's key and flags, recorded or not (checks long runs).
std::uint64_t KeyEventChecksum();

// A run killed in the middle of its work: once `events` have been sent since
// the reset, the process is gone, and nothing it sends afterwards reaches the
// focused application or its key record. The next ClaimKeyRecord is a new
// process, which finds the record as the killed run left it.
void KillRunAfterEvents(std::size_t events);

}  // namespace platform::sim
