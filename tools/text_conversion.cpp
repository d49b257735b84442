// Text conversions through the platform's own UTF-8 codec, so that bytes the
// engine keeps undecoded come out as they went in.
#include "tools/text_conversion.h"

#include <cstddef>

#include "platform/text.h"

std::string ToUtf8(std::u16string_view text) {
    std::u16string terminated(text);
    // A unit becomes at most three bytes (a pair of units at most four).
    std::string bytes(terminated.size() * 3 + 1, '\0');
    std::ptrdiff_t n = platform::EncodeUtf8(
        terminated.c_str(), reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
    bytes.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return bytes;
}

std::u16string FromUtf8(std::string_view text) {
    // A byte becomes at most one unit (four bytes at most two).
    std::u16string units(text.size() + 1, u'\0');
    std::ptrdiff_t n =
        platform::DecodeUtf8Terminated(text.data(), text.size(), units.data(), units.size());
    units.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return units;
}

std::u16string Decimal(int value) {
    char16_t text[16];
    platform::FormatDecimal(text, 16, value);
    return text;
}
