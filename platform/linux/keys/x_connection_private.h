// The Xlib connection the XTest output types through: opened only where the
// server has the XTEST and XKEYBOARD extensions, and set to receive layout
// changes (setxkbmap, a new keyboard, a group switch) as XKB notices.
#pragma once

#include <cstddef>

struct _XDisplay;

namespace platform::linuxkeys {

class XConnection {
  public:
    XConnection() = default;
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;
    ~XConnection() { Close(); }

    // The named display (null: $DISPLAY). Null, or what is missing.
    const char* Open(const char* displayName);
    void Close();

    _XDisplay* display() const { return display_; }
    // The display's name as Xlib resolved it, for other connections to it.
    const char* Name() const;
    // The event type of XKB notices on this connection.
    int XkbEventBase() const { return xkbEventBase_; }

    // The layout name setxkbmap and the desktops leave on the root window
    // ("fr", "us(dvorak)"), else "the X keyboard layout".
    void ReadLayoutName(char* name, std::size_t capacity);
    // Returns once the server has handled every request sent so far.
    void Sync();
    // Caps Lock as the server has it; a round trip, so our own Caps Lock
    // presses count.
    bool CapsLockOn();
    // The window with the keyboard focus; 0 for none.
    unsigned long FocusWindow();

  private:
    _XDisplay* display_ = nullptr;
    int xkbEventBase_ = 0;
};

}  // namespace platform::linuxkeys
