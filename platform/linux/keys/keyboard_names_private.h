// The system's keyboard configuration as XKB rule names, for the uinput
// output, which has no X server to ask for its layout.
#pragma once

namespace platform::linuxkeys {

struct KeyboardNames {
    char model[64] = {};
    char layout[64] = {};
    char variant[64] = {};
    char options[128] = {};
};

// XKB_DEFAULT_LAYOUT (with XKB_DEFAULT_VARIANT, _MODEL, _OPTIONS) when set,
// else XKBLAYOUT and the others from `file` (Debian's /etc/default/keyboard),
// else "us".
KeyboardNames ReadKeyboardNames(const char* file = "/etc/default/keyboard");

}  // namespace platform::linuxkeys
