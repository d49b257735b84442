// Windows-1252, the code page of the bytes a keyboard table maps to keys.
#pragma once

#include <cstdint>

// The character a byte stands for, or 0 for the five bytes the code page
// leaves undefined. Bytes below 0x80 are ASCII.
char16_t Cp1252ToUnicode(std::uint8_t byte);
// The byte whose character `character` is (control characters and NUL
// included), or -1 when Windows-1252 has none.
int Cp1252FromUnicode(char32_t character);
