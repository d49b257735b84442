// Test controls of the simulated shell: message boxes are recorded, and block
// the thread that shows them until a test dismisses them (or, in auto-dismiss
// mode, return at once); every tray icon call is recorded with a copy of its
// record; icons extracted from the executable get one fake handle per id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/services.h"

namespace platform::sim {

struct MessageBoxRecord {
    std::u16string text;
    std::u16string caption;  // empty when the box had no caption of its own
    bool hasCaption = false;
    WindowHandle owner = kNoWindow;
    ThreadHandle thread = kNoThread;  // the simulated thread that showed it (kNoThread: another)
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

namespace detail {
// A message box shown on the thread of a modal dialog runs that dialog's
// messages while it is up, as a real box's own message loop does (timer ticks,
// tray notifications, and clicks unless the box's owner is the dialog, which
// a box disables). The dialog framework installs the loop: it runs messages
// until `dismissed(context)` holds and returns true, or returns false at once
// when called on any other thread.
using NestedMessageLoop = bool (*)(WindowHandle owner, bool (*dismissed)(void*), void* context);
void SetNestedMessageLoop(NestedMessageLoop loop);
}  // namespace detail

struct TrayCall {
    std::uint32_t message;
    NotifyIconData data;
};
std::vector<TrayCall> TrayCalls();
void ResetTray();
// The handle ExtractIconExW gives for icon resource `id`.
IconHandle FakeIcon(std::int32_t id);

}  // namespace platform::sim
