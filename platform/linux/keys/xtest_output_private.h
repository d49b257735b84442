// Key presses into the X server through the XTEST extension.
#pragma once

#include "platform/linux/keys/key_injector_private.h"

struct _XDisplay;

namespace platform::linuxkeys {

class XTestInjector final : public KeyInjector {
  public:
    explicit XTestInjector(_XDisplay* display = nullptr) : display_(display) {}
    void SetDisplay(_XDisplay* display) { display_ = display; }
    void SendKey(KeyCode code, bool down) override;

  private:
    _XDisplay* display_;
};

}  // namespace platform::linuxkeys
