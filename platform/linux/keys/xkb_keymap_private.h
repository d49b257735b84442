// Keymaps as xkbcommon reads them: the X server's own, or one compiled from
// the system's rule names for the uinput output.
#pragma once

#include <cstdint>

#include "platform/linux/keys/keyboard_names_private.h"

struct xkb_context;
struct xkb_keymap;

namespace platform::linuxkeys {

// The keymap of the server at `displayName` and its effective layout group;
// null when it cannot be read. Read on an XCB connection of its own, made
// for each read: a connection left open would collect every notice the
// server sends its clients. The caller unrefs the keymap.
xkb_keymap* ReadServerKeymap(xkb_context* context, const char* displayName, std::uint32_t* group);
// The keymap `names` describe; null for names xkbcommon does not know.
xkb_keymap* CompileKeymap(xkb_context* context, const KeyboardNames& names);

}  // namespace platform::linuxkeys
