// The X display, its extensions, and what the keystroke output asks the
// server directly (layout name, Caps Lock, focus).
#include "platform/linux/keys/x_connection_private.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdio>
#include <cstring>

namespace platform::linuxkeys {

const char* XConnection::Open(const char* displayName) {
    Close();
    display_ = XOpenDisplay(displayName);
    if (display_ == nullptr) return "the X display cannot be opened";
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) {
        Close();
        return "the X server has no XTEST extension";
    }
    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    if (!XkbQueryExtension(display_, &opcode, &xkbEventBase_, &error, &major, &minor)) {
        Close();
        return "the X server has no XKEYBOARD extension";
    }
    // Layout changes and group switches reach us as XKB notices, read before
    // each key press.
    const unsigned notices = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    XkbSelectEvents(display_, XkbUseCoreKbd, notices, notices);
    XkbSelectEventDetails(display_, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask,
                          XkbGroupStateMask);
    // In force before the keymap is read (on a connection of its own): a
    // setxkbmap landing between that read and a selection still waiting in
    // our buffer would never be told, and we would type on the old layout.
    XSync(display_, False);
    return nullptr;
}

void XConnection::Close() {
    if (display_ != nullptr) XCloseDisplay(display_);
    display_ = nullptr;
    xkbEventBase_ = 0;
}

const char* XConnection::Name() const {
    return display_ != nullptr ? DisplayString(display_) : nullptr;
}

// The names are the _XKB_RULES_NAMES property: rules, model, layout, variant,
// options, each ended by a zero byte.
void XConnection::ReadLayoutName(char* name, std::size_t capacity) {
    std::snprintf(name, capacity, "%s", "the X keyboard layout");
    if (display_ == nullptr) return;
    const Atom names = XInternAtom(display_, "_XKB_RULES_NAMES", True);
    if (names == None) return;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display_, DefaultRootWindow(display_), names, 0, 1024, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) != Success ||
        data == nullptr)
        return;
    const char* fields[5] = {};
    std::size_t at = 0;
    for (int i = 0; i < 5 && at < count; ++i) {
        fields[i] = reinterpret_cast<const char*>(data) + at;
        at += std::strlen(fields[i]) + 1;
    }
    if (fields[2] != nullptr && fields[2][0] != 0) {
        const bool variant = fields[3] != nullptr && fields[3][0] != 0;
        std::snprintf(name, capacity, variant ? "%s(%s)" : "%s", fields[2],
                      variant ? fields[3] : "");
    }
    XFree(data);
}

void XConnection::Sync() {
    if (display_ != nullptr) XSync(display_, False);
}

bool XConnection::CapsLockOn() {
    if (display_ == nullptr) return false;
    XkbStateRec state{};
    if (XkbGetState(display_, XkbUseCoreKbd, &state) != Success) return false;
    return (state.locked_mods & LockMask) != 0;
}

unsigned long XConnection::FocusWindow() {
    if (display_ == nullptr) return 0;
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    return focus == PointerRoot ? DefaultRootWindow(display_) : focus;
}

}  // namespace platform::linuxkeys
