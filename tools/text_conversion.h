// Between the engine's UTF-16 text and the UTF-8 the tool reads and prints.
#pragma once

#include <string>
#include <string_view>

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);
// A number as the engine's text, e.g. a key name of a keyboard table.
std::u16string Decimal(int value);
