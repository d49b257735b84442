// XTest key injection.
#include "platform/linux/keys/xtest_output_private.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace platform::linuxkeys {

void XTestInjector::SendKey(KeyCode code, bool down) {
    if (display_ == nullptr) return;
    // A press is written down before it is made, a release after.
    if (record_ != nullptr && down) record_->KeyDown(code, true);
    XTestFakeKeyEvent(display_, code, down ? True : False, CurrentTime);
    // Each event leaves at once: the stroke delay paces what the user's
    // application receives, not what Xlib buffers.
    XFlush(display_);
    if (record_ != nullptr && !down) record_->KeyDown(code, false);
}

}  // namespace platform::linuxkeys
