// The tool's names for the bytes a keyboard table maps to keys; the code
// page itself is keymap's.
#pragma once

#include <cstdint>
#include <string>

// Readable name of a byte's character: "A", "SPACE", "CR", "NBSP", "(undefined)".
std::string ByteCharacterName(std::uint8_t byte);
