// What a run changes in the desktop's keyboard while it types (keys held
// down, Caps Lock switched off for a line), kept in a small file of the
// user's as it happens, so that the next run can give back what a run killed
// in the middle of a line left behind.
#pragma once

#include <cstdint>

#include "platform/codes.h"

namespace platform::win32keys {

// The file's contents: fixed size, written in place through a file mapping.
struct KeyRecordContents {
    char magic[8];
    std::uint8_t down[256];
    // Our Caps Lock presses, of which an odd number leaves it switched.
    std::uint32_t capsLockPresses;
};

// How what a killed run left is given back: one key event, as the program
// sends its own.
using SendKeyEvent = void (*)(std::uint8_t virtualKey, bool release);

// Takes the record in `folder` (created if need be) for this process, first
// giving back through `send` what a run that ended without letting go left
// in it. Null when no record can be kept (no folder, a live holder): nothing
// is recorded then.
KeyRecordContents* ClaimKeyRecord(const wchar_t* folder, SendKeyEvent send);

// Each is written before Windows can see the change it stands for, so that a
// run killed in between leaves at worst a release too many, which changes
// nothing.
inline void RecordKeyEvent(KeyRecordContents* record, std::uint8_t virtualKey, bool release) {
    if (record == nullptr) return;
    if (!release && virtualKey == kVkCapital) ++record->capsLockPresses;
    if (!release) record->down[virtualKey] = 1;
}
inline void RecordKeyEventSent(KeyRecordContents* record, std::uint8_t virtualKey, bool release) {
    if (record != nullptr && release) record->down[virtualKey] = 0;
}

}  // namespace platform::win32keys
