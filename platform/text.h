// Wide-character text services: the string, number and UTF-8 functions the
// program relies on, written once in portable C++ so that every platform
// parses and formats exactly alike (no C runtime differences).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

std::size_t StrLen(const char16_t* text);
int StrCmp(const char16_t* a, const char16_t* b);
// First occurrence of `needle` in `text` (an empty needle matches at once), or null.
const char16_t* StrStr(const char16_t* text, const char16_t* needle);
const char16_t* StrChr(const char16_t* text, char16_t c);
inline char16_t* StrChr(char16_t* text, char16_t c) {
    return const_cast<char16_t*>(StrChr(static_cast<const char16_t*>(text), c));
}
// Copies `source` into `destination` of `capacity` units (terminator included),
// cutting it to capacity - 1 units. Returns false when it had to cut.
bool StrCopy(char16_t* destination, std::size_t capacity, const char16_t* source);
// Appends; false (destination unchanged) when the result would not fit.
bool StrAppend(char16_t* destination, std::size_t capacity, const char16_t* source);

// _wtoi: leading white space, an optional sign, decimal digits up to the first
// other character; 0 without digits; out of range saturates to INT32_MIN/MAX.
std::int32_t wtoi(const char16_t* text);
// wcstoul(text, nullptr, 16) with a 32-bit unsigned long: white space, sign,
// optional 0x/0X, hex digits; 0 without digits; out of range gives 0xFFFFFFFF;
// a minus sign negates the result modulo 2^32.
std::uint32_t wcstoul16(const char16_t* text);
// wsprintfW "%d": writes the decimal text of `value`; false when it does not fit.
bool FormatDecimal(char16_t* destination, std::size_t capacity, std::int32_t value);

// UTF-8 <-> UTF-16. Decoding is lossless: each byte that is not part of valid
// UTF-8 becomes the lone surrogate U+DC80 + byte, and encoding turns such a
// unit back into that byte. Other lone surrogates encode as U+FFFD.
// Decodes `size` bytes into `destination` (capacity in units, terminator
// included); returns the units written, or -1 when they do not fit.
std::ptrdiff_t DecodeUtf8(const unsigned char* bytes, std::size_t size, char16_t* destination,
                          std::size_t capacity);
// Encodes a terminated wide text; returns the bytes written (no terminator
// added), or -1 when they do not fit.
std::ptrdiff_t EncodeUtf8(const char16_t* text, unsigned char* destination, std::size_t capacity);
// Decodes UTF-8 `bytes` and terminates the text: `capacity` counts the
// terminator. Returns the units written before it, or -1 when they do not fit
// (`destination` then holds the empty text, when it has room for that).
std::ptrdiff_t DecodeUtf8Terminated(const char* bytes, std::size_t size, char16_t* destination,
                                    std::size_t capacity);
// The same for a zero-terminated UTF-8 text.
std::ptrdiff_t DecodeUtf8Terminated(const char* text, char16_t* destination, std::size_t capacity);
// Length in bytes of the valid UTF-8 sequence starting at bytes[0] (1 to 4),
// or 0 when bytes[0] does not start one within `size` bytes.
std::size_t Utf8SequenceLength(const unsigned char* bytes, std::size_t size);

}  // namespace platform
