// Telling an X11 session from a Wayland one, or from none, by its environment.
#include "platform/linux/keys/session_private.h"

#include <cstdlib>
#include <cstring>

namespace platform::linuxkeys {
namespace {

bool IsSet(const char* value) {
    return value != nullptr && value[0] != 0;
}

}  // namespace

Session DetectSession() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    if (IsSet(std::getenv("WAYLAND_DISPLAY")) ||
        (type != nullptr && std::strcmp(type, "wayland") == 0))
        return Session::kWayland;
    return IsSet(std::getenv("DISPLAY")) ? Session::kX11 : Session::kNoDisplay;
}

const char* WhyNoXTest(Session session) {
    switch (session) {
        case Session::kWayland:
            return "this is a Wayland session";
        case Session::kNoDisplay:
            return "there is no X display (DISPLAY is not set)";
        default:
            return nullptr;
    }
}

}  // namespace platform::linuxkeys
