// The shipped layout lists (dist/layouts) as keystrokes: each character with
// the virtual key and modifier a table gives it, typed with the key events
// the reception thread sends for one keystroke ending a line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux/keys/key_layout_private.h"

namespace keystroke_lists {

struct Entry {
    char32_t character;
    std::uint8_t virtualKey;
    bool shift;
    bool altGr;
};

// The entries of a list that have a key ("none" lines are left out).
std::vector<Entry> Read(const std::string& name);
// The hints the program gives the output for a table made from these entries.
std::vector<platform::linuxkeys::KeyHint> HintsOf(const std::vector<Entry>& entries);

// Control, left Alt and Shift set as the keystroke needs them, the key down
// and up, then what the end of a line releases.
using SendEvent = std::function<void(std::uint8_t virtualKey, bool down)>;
void TypeAsLine(const Entry& entry, const SendEvent& send);

std::string Utf8(char32_t character);

// Types each entry as a line of its own, takes what arrived from `arrived`,
// and gives the characters that did not arrive as listed, with a report.
struct Result {
    std::u32string differences;
    std::string report;
};
Result TypeEach(const std::vector<Entry>& entries, const SendEvent& send,
                const std::function<std::u32string()>& arrived);

}  // namespace keystroke_lists
