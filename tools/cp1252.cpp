// Windows-1252, the code page the keyboard tables' bytes stand for, and the
// names under which the tool shows each byte.
#include "tools/cp1252.h"

#include "tools/text_conversion.h"

namespace {

// 0x80 to 0x9F of Windows-1252; 0 marks the undefined bytes.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

constexpr const char* kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                           "BS",  "TAB", "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                           "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                           "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

}  // namespace

char16_t Cp1252ToUnicode(std::uint8_t byte) {
    if (byte >= 0x80 && byte <= 0x9F) return kCp1252High[byte - 0x80];
    return byte;
}

int UnicodeToCp1252(char32_t character) {
    for (int b = 0; b < 256; ++b) {
        char16_t c = Cp1252ToUnicode(static_cast<std::uint8_t>(b));
        if (c != 0 && c == character) return b;
    }
    return character == 0 ? 0 : -1;
}

std::string ByteCharacterName(std::uint8_t byte) {
    if (byte < 0x20) return kControlNames[byte];
    if (byte == 0x20) return "SPACE";
    if (byte == 0x7F) return "DEL";
    if (byte == 0xA0) return "NBSP";
    if (byte == 0xAD) return "SHY";
    char16_t c = Cp1252ToUnicode(byte);
    if (c == 0) return "(undefined)";
    return ToUtf8(std::u16string(1, c));
}
