// Key presses into the X server through the XTEST extension.
#pragma once

#include "platform/linux/keys/key_injector_private.h"
#include "platform/linux/keys/key_record_private.h"

struct _XDisplay;

namespace platform::linuxkeys {

class XTestInjector final : public KeyInjector {
  public:
    explicit XTestInjector(_XDisplay* display = nullptr) : display_(display) {}
    void SetDisplay(_XDisplay* display) { display_ = display; }
    // Where the keys held down are written as they go down and up.
    void SetRecord(KeyRecord* record) { record_ = record; }
    void SendKey(KeyCode code, bool down) override;

  private:
    _XDisplay* display_;
    KeyRecord* record_ = nullptr;
};

}  // namespace platform::linuxkeys
