// Following the X server's layout while the output stays open: the XKB
// notices that arrived since the last look (read before each key press) say
// whether the keymap or its group changed, so that a setxkbmap while the
// program runs is typed on from the next key on.
#pragma once

#include <cstdint>

#include "platform/linux/keys/spare_keys_private.h"

struct _XDisplay;

namespace platform::linuxkeys {

// Reads every notice waiting on `display`; true when the layout must be read
// again (a new keymap, a mapping change that is not our own binding of spare
// keys, a switch away from `group`). A new keymap has none of our bindings
// left: `spares` forgets them.
bool LayoutChanged(_XDisplay* display, int xkbEventBase, std::uint32_t group, SpareKeys& spares);

}  // namespace platform::linuxkeys
