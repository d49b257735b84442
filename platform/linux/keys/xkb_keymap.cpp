// Reading keymaps through xkbcommon and xkbcommon-x11.
#include "platform/linux/keys/xkb_keymap_private.h"

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

namespace platform::linuxkeys {

xkb_keymap* ReadServerKeymap(xkb_context* context, const char* displayName, std::uint32_t* group) {
    *group = 0;
    xcb_connection_t* xcb = xcb_connect(displayName, nullptr);
    xkb_keymap* keymap = nullptr;
    if (xcb_connection_has_error(xcb) == 0 &&
        xkb_x11_setup_xkb_extension(
            xcb, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
        const std::int32_t device = xkb_x11_get_core_keyboard_device_id(xcb);
        keymap = device < 0 ? nullptr
                            : xkb_x11_keymap_new_from_device(context, xcb, device,
                                                             XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (keymap != nullptr) {
            xkb_state* state = xkb_x11_state_new_from_device(keymap, xcb, device);
            if (state != nullptr) {
                *group = xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE);
                xkb_state_unref(state);
            }
        }
    }
    xcb_disconnect(xcb);
    return keymap;
}

xkb_keymap* CompileKeymap(xkb_context* context, const KeyboardNames& names) {
    if (context == nullptr) return nullptr;
    const xkb_rule_names rules{nullptr, names.model[0] != 0 ? names.model : nullptr,
                               names.layout[0] != 0 ? names.layout : nullptr,
                               names.variant[0] != 0 ? names.variant : nullptr,
                               names.options[0] != 0 ? names.options : nullptr};
    return xkb_keymap_new_from_names(context, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS);
}

}  // namespace platform::linuxkeys
