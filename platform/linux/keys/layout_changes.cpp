// The XKB notices of layout changes, told apart from our own spare-key bindings.
#include "platform/linux/keys/layout_changes_private.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace platform::linuxkeys {
namespace {

// A map notice is ours when every key it names is a spare key we bound.
bool OursOnly(const XkbMapNotifyEvent& n, const SpareKeys& spares) {
    const int ranges[][2] = {
        {n.first_key_sym, n.num_key_syms},           {n.first_key_act, n.num_key_acts},
        {n.first_key_behavior, n.num_key_behaviors}, {n.first_key_explicit, n.num_key_explicit},
        {n.first_modmap_key, n.num_modmap_keys},     {n.first_vmodmap_key, n.num_vmodmap_keys}};
    bool any = false;
    for (const auto& range : ranges) {
        if (range[1] == 0) continue;
        if (!spares.AllOurs(range[0], range[1])) return false;
        any = true;
    }
    return any;
}

}  // namespace

bool LayoutChanged(_XDisplay* display, int xkbEventBase, std::uint32_t group, SpareKeys& spares) {
    bool changed = false;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != xkbEventBase) continue;
        const auto& notice = reinterpret_cast<const XkbEvent&>(event);
        if (notice.any.xkb_type == XkbNewKeyboardNotify) {
            spares.Forget();
            changed = true;
        } else if (notice.any.xkb_type == XkbMapNotify) {
            if (!OursOnly(notice.map, spares)) changed = true;
        } else if (notice.any.xkb_type == XkbStateNotify &&
                   static_cast<std::uint32_t>(notice.state.group) != group) {
            changed = true;
        }
    }
    return changed;
}

}  // namespace platform::linuxkeys
