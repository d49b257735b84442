// Windows-1252 decoding: the bytes 0x80 to 0x9F are the only ones that differ
// from Latin-1.
#include "keymap/cp1252.h"

namespace {

// 0x80 to 0x9F of Windows-1252; 0 marks the undefined bytes.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

char16_t Cp1252ToUnicode(std::uint8_t byte) {
    if (byte >= 0x80 && byte <= 0x9F) return kCp1252High[byte - 0x80];
    return byte;
}

int Cp1252FromUnicode(char32_t character) {
    if (character < 0x80 || (character >= 0xA0 && character <= 0xFF))
        return static_cast<int>(character);
    for (int b = 0x80; b <= 0x9F; ++b)
        if (kCp1252High[b - 0x80] != 0 && kCp1252High[b - 0x80] == character) return b;
    return -1;
}
