// Where key presses go: the X server through XTest, or a uinput device of
// our own through libevdev. Both take XKB key codes; the uinput side speaks
// evdev events through a sink, which tests replace to see the events without
// the kernel.
#pragma once

#include <cstdint>

#include "platform/linux/key_layout.h"

struct _XDisplay;
struct libevdev_uinput;

namespace platform::linuxkeys {

class KeyInjector {
  public:
    virtual ~KeyInjector() = default;
    // One press or release of a key, delivered before the call returns.
    virtual void SendKey(KeyCode code, bool down) = 0;
};

// Receives the evdev events of the uinput device.
class EventSink {
  public:
    virtual ~EventSink() = default;
    virtual void Emit(std::uint16_t type, std::uint16_t code, std::int32_t value) = 0;
};

class XTestInjector final : public KeyInjector {
  public:
    explicit XTestInjector(_XDisplay* display = nullptr) : display_(display) {}
    void SetDisplay(_XDisplay* display) { display_ = display; }
    void SendKey(KeyCode code, bool down) override;

  private:
    _XDisplay* display_;
};

// Each key event is followed by its report, so a reader sees it at once.
class UinputInjector final : public KeyInjector {
  public:
    explicit UinputInjector(EventSink* sink = nullptr) : sink_(sink) {}
    void SetSink(EventSink* sink) { sink_ = sink; }
    void SendKey(KeyCode code, bool down) override;

  private:
    EventSink* sink_;
};

// The kernel's uinput device: a keyboard with only keyboard keys (no
// buttons, no axes, no auto-repeat of our own).
class UinputDevice final : public EventSink {
  public:
    UinputDevice() = default;
    UinputDevice(const UinputDevice&) = delete;
    UinputDevice& operator=(const UinputDevice&) = delete;
    ~UinputDevice() override { Close(); }

    // 0, or the negative errno of the failure (-ENOENT: no uinput in the
    // kernel; -EACCES: no permission on /dev/uinput).
    int Open();
    void Close();
    bool IsOpen() const { return device_ != nullptr; }
    // The event node the kernel made for the device (/dev/input/eventN).
    const char* DeviceNode() const;
    void Emit(std::uint16_t type, std::uint16_t code, std::int32_t value) override;

  private:
    libevdev_uinput* device_ = nullptr;
};

}  // namespace platform::linuxkeys
