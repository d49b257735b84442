// The test's X client: one window, focused, reading KeyPress events.
#include "x_key_reader.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <thread>

XKeyReader::XKeyReader(const std::string& display) {
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
    if (display_ == nullptr) return;
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
}

void XKeyReader::Drain(std::u32string& typed) {
    XSync(display_, False);
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type != KeyPress) continue;
        unsigned int consumed = 0;
        KeySym keysym = NoSymbol;
        // The full state (group, Shift, the third level) picks the symbol.
        XkbLookupKeySym(display_, static_cast<KeyCode>(event.xkey.keycode), event.xkey.state,
                        &consumed, &keysym);
        const char32_t c = xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(keysym));
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
