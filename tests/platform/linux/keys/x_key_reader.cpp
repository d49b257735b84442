// The test's X client: one window, focused, reading KeyPress events.
#include "x_key_reader.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <thread>

XKeyReader::XKeyReader(const std::string& display, bool compose) {
    if (compose) {
        context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        table_ =
            xkb_compose_table_new_from_locale(context_, "C.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS);
        if (table_ != nullptr) compose_ = xkb_compose_state_new(table_, XKB_COMPOSE_STATE_NO_FLAGS);
    }
    display_ = XOpenDisplay(display.c_str());
    if (display_ == nullptr) return;
    const int screen = DefaultScreen(display_);
    window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, 320, 200, 0,
                                  BlackPixel(display_, screen), WhitePixel(display_, screen));
    XSelectInput(display_, window_, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
    XMapWindow(display_, window_);
    XEvent event;
    do XNextEvent(display_, &event);
    while (event.type != MapNotify);
    XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
    XSync(display_, False);
}

XKeyReader::~XKeyReader() {
    if (compose_ != nullptr) xkb_compose_state_unref(compose_);
    if (table_ != nullptr) xkb_compose_table_unref(table_);
    if (context_ != nullptr) xkb_context_unref(context_);
    if (display_ == nullptr) return;
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
}

void XKeyReader::Drain(std::u32string& typed) {
    XSync(display_, False);
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        // As every Xlib application does: a key code bound anew is read anew.
        if (event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
        if (event.type != KeyPress) continue;
        unsigned int consumed = 0;
        KeySym keysym = NoSymbol;
        // The full state (group, Shift, the third level) picks the symbol.
        XkbLookupKeySym(display_, static_cast<KeyCode>(event.xkey.keycode), event.xkey.state,
                        &consumed, &keysym);
        const auto sym = static_cast<xkb_keysym_t>(keysym);
        if (compose_ != nullptr &&
            xkb_compose_state_feed(compose_, sym) == XKB_COMPOSE_FEED_ACCEPTED) {
            const xkb_compose_status status = xkb_compose_state_get_status(compose_);
            if (status == XKB_COMPOSE_COMPOSING) continue;
            if (status == XKB_COMPOSE_COMPOSED) {
                typed += xkb_keysym_to_utf32(xkb_compose_state_get_one_sym(compose_));
                xkb_compose_state_reset(compose_);
                continue;
            }
            if (status == XKB_COMPOSE_CANCELLED) {
                xkb_compose_state_reset(compose_);
                typed += U'\uFFFD';  // a dead key that composed with nothing
                continue;
            }
        }
        const char32_t c = xkb_keysym_to_utf32(sym);
        if (c != 0) typed += c;
    }
}

std::u32string XKeyReader::Read(std::size_t expected) {
    std::u32string typed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    Drain(typed);
    while (typed.size() < expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        Drain(typed);
    }
    Drain(typed);  // anything beyond what was expected shows as a difference
    return typed;
}

bool XKeyReader::AnyKeyDown() {
    char keys[32];
    XQueryKeymap(display_, keys);
    for (char k : keys)
        if (k != 0) return true;
    return false;
}

bool XKeyReader::CapsLockOn() {
    XkbStateRec state{};
    XkbGetState(display_, XkbUseCoreKbd, &state);
    return (state.locked_mods & LockMask) != 0;
}

void XKeyReader::SetCapsLock(bool on) {
    XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, on ? LockMask : 0);
    XSync(display_, False);
}

std::vector<int> XKeyReader::EmptyKeyCodes() {
    std::vector<int> empty;
    int low = 0, high = 0, per = 0;
    XDisplayKeycodes(display_, &low, &high);
    KeySym* syms = XGetKeyboardMapping(display_, static_cast<KeyCode>(low), high - low + 1, &per);
    for (int code = low; code <= high; ++code) {
        bool none = true;
        for (int i = 0; i < per; ++i) none = none && syms[(code - low) * per + i] == NoSymbol;
        if (none) empty.push_back(code);
    }
    XFree(syms);
    return empty;
}
