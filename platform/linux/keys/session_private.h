// Which keystroke output the desktop session takes. XTest reaches every
// program of an X11 session; under Wayland it would reach only the X
// programs the session runs, so there, and with no X display, uinput types.
#pragma once

namespace platform::linuxkeys {

enum class Session { kX11, kWayland, kNoDisplay };

// From WAYLAND_DISPLAY, XDG_SESSION_TYPE and DISPLAY.
Session DetectSession();
// Why XTest is not used in `session`, for the message when uinput cannot be
// used either; null for an X11 session.
const char* WhyNoXTest(Session session);

}  // namespace platform::linuxkeys
