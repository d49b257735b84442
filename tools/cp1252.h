// Windows-1252, the code page of the bytes a keyboard table maps to keys.
#pragma once

#include <cstdint>
#include <string>

// The character a byte stands for, or 0 for the five bytes the code page
// leaves undefined. Bytes below 0x80 are ASCII.
char16_t Cp1252ToUnicode(std::uint8_t byte);
// -1 when the character has no byte in Windows-1252.
int UnicodeToCp1252(char32_t character);
// Readable name of a byte's character: "A", "SPACE", "CR", "NBSP", "(undefined)".
std::string ByteCharacterName(std::uint8_t byte);
