// Shaping a scan for the application it goes into: what GS and carriage
// return type, a symbology identifier dropped, a prefix and a suffix, and
// replacements. Works on the received bytes one at a time and hands what is
// to be typed to its caller, so the reception thread and the tools share it.
#pragma once

#include <cstdint>

#include "keymap/scan_text.h"
#include "settings/general_settings.h"

// The SCAN_ settings as the reception thread uses them; a setting that is
// absent or not accepted does nothing.
struct ScanRules {
    bool inUse;  // false: every byte goes its way exactly as without shaping
    bool stripIdentifier;
    ScanText gs;
    ScanText prefix;
    ScanText suffix;
    ScanText carriageReturn;
    ScanReplacement replacements[kScanReplaceCount];
    // Whether a replacement begins with the byte: most bytes begin none and
    // go straight on.
    bool beginsReplacement[256];
};

// Where the current scan stands. A scan runs from the first byte after a
// carriage return to the next carriage return.
struct ScanState {
    bool inScan;
    std::uint8_t identifierHeld;  // bytes of a possible identifier held back
    bool identifierSettled;       // the scan's start was looked at
    std::uint8_t identifier[2];
    std::uint8_t pendingCount;  // bytes that may begin a replacement
    std::uint8_t pending[kMaxReplacedBytes];
};

// Receives what a scan types, in order: a character as the scan's own
// bytes are typed, or a key.
using ScanOutput = void (*)(void* context, const ScanItem& item);

// Parses the record's SCAN_ texts into `rules` (fixed storage).
void PrepareScanRules(const SerialSettingsRecord& record, ScanRules& rules);

void ResetScanState(ScanState& state);

// A symbology identifier is "]", a letter and one more letter or digit at the
// very start of a scan ("]d2"): whether `byte` may stand at `position` of one.
inline constexpr int kIdentifierLength = 3;
bool FitsIdentifier(int position, std::uint8_t byte);

// Takes one received byte. What it types may come later (a byte that may
// begin an identifier or a replacement waits for the next); a carriage return
// types all that waits, then the suffix and what carriage return types.
void ShapeScanByte(const ScanRules& rules, ScanState& state, std::uint8_t byte, ScanOutput output,
                   void* context);
