// Windows-1252, the code page of the bytes a keyboard table maps to keys.
#pragma once

#include <cstdint>
#include <string>

#include "keymap/cp1252.h"  // Cp1252ToUnicode

// -1 when the character has no byte in Windows-1252.
int UnicodeToCp1252(char32_t character);
// Readable name of a byte's character: "A", "SPACE", "CR", "NBSP", "(undefined)".
std::string ByteCharacterName(std::uint8_t byte);
