// How a person reads a line of a settings file (a header, a comment, a key
// line), set against how the program reads it: the check reports where the two
// differ.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace check {

bool IsBlankChar(char16_t c);
// `text` without the blanks around it.
std::u16string Trimmed(std::u16string_view text);
// A hex number as a key line spells its key: an optional sign and 0x, then hex digits.
bool IsHexText(std::u16string_view text);
// The decimal text of a byte value, or -1 when `key` is not one ("007" is not:
// the program looks keys up without leading zeros).
int ByteValueOf(const std::u16string& key);
// "2–4, 7, 11–64"
std::string ByteRanges(const std::vector<int>& bytes);

// A header as a person reads it: "[name]" alone on its line, or before a comment.
bool IsHeaderText(const char16_t* text, std::u16string& name);
bool IsCommentText(const char16_t* text);
bool IsBlankText(const char16_t* text);
// A key line as a person reads it: KEY = VALUE, with the "=" before any comment.
bool KeyOfText(const char16_t* text, std::u16string& key);
// A piece of spaces and line ends only: it holds no header, key or number,
// so no lookup can stop at it and no tracker needs to see it. Most pieces of
// a large file are like that.
bool IsBlankPiece(const char16_t* text);

}  // namespace check
