// Test controls of the simulated shell: message boxes are recorded, and block
// the thread that shows them until a test dismisses them (or, in auto-dismiss
// mode, return at once).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/services.h"

namespace platform::sim {

struct MessageBoxRecord {
    std::u16string text;
    std::u16string caption;  // empty when the box had no caption of its own
    bool hasCaption = false;
    Handle owner = kNoHandle;
};

// Boxes return at once when set (the default); otherwise they block.
void SetMessageBoxAutoDismiss(bool on);
std::vector<MessageBoxRecord> MessageBoxes();
std::size_t OpenMessageBoxCount();
// Dismisses the oldest open box; false when none is open.
bool DismissMessageBox();
// Waits (really) until at least `count` boxes have been shown; false on timeout.
bool WaitForMessageBoxes(std::size_t count, int timeoutMs);
void ResetShell();

}  // namespace platform::sim
