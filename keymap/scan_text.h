// The small language in which the scan-shaping settings say what to type:
// plain characters, key names and chords in braces, and a replacement's
// "bytes=>text". Parsed once, at Start, into fixed storage that the
// reception thread reads without allocating.
#pragma once

#include <cstdint>

#include "platform/codes.h"

enum class ScanItemKind : std::uint8_t {
    kCharacter,  // `code` is a Windows-1252 byte, typed the way a received byte is
    kKey,        // `code` is a virtual key, typed with `modifiers` held
};

// The modifiers a chord holds while its key is typed.
enum ScanModifier : std::uint8_t {
    kScanCtrl = 1,
    kScanAlt = 2,
    kScanShift = 4,
    kScanWin = 8,
};

struct ScanItem {
    ScanItemKind kind;
    std::uint8_t code;
    std::uint8_t modifiers;
};

// A parsed value; every character of a value gives at most one item, so a
// value the settings engine can hand back always fits.
struct ScanText {
    bool set;  // false: the setting is absent (or was not accepted)
    std::uint16_t count;
    ScanItem items[platform::kTextCapacity];
};

// The longest byte sequence a replacement matches.
inline constexpr int kMaxReplacedBytes = 8;

struct ScanReplacement {
    bool set;
    std::uint8_t fromLength;
    std::uint8_t from[kMaxReplacedBytes];
    ScanText to;
};

// Why a value was not accepted: the 1-based character position in the value
// where the problem starts, and a sentence for a user.
struct ScanTextError {
    int column;
    const char* reason;
};

// `{Tab}`, `{F8}`, `{Ctrl+]}`, `{0x1D}`, `{None}`, `{{}` and `{}}` as well as
// plain characters (those Windows-1252 has). False, with `error` set and
// `out.set` false, when the text is not in the language.
bool ParseScanText(const char16_t* text, ScanText& out, ScanTextError& error);

// "FROM=>TO": FROM is 1 to 8 bytes (plain characters or `{0xHH}`, never a
// carriage return: that ends the scan), TO any text of the language, empty
// for nothing.
bool ParseScanReplacement(const char16_t* text, ScanReplacement& out, ScanTextError& error);

// The name a key item is written with in the language ("Tab", "Ctrl+]"),
// into `buffer`; for the tool's listings and tests.
void DescribeScanKey(const ScanItem& item, char (&buffer)[32]);
