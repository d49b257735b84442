// The names under which the tool shows each byte of Windows-1252, the code
// page the keyboard tables' bytes stand for.
#include "tools/byte_names.h"

#include "keymap/cp1252.h"
#include "tools/text_conversion.h"

namespace {

constexpr const char* kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                           "BS",  "TAB", "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                           "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                           "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

}  // namespace

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
