// Key presses through a uinput device of our own (libevdev), where XTest
// cannot reach the session's programs, and Caps Lock as the desktop shows it
// on the device's LED. The events go through a sink, which tests replace to
// see them without the kernel.
#pragma once

#include <cstdint>

#include "platform/linux/keys/key_injector_private.h"

struct libevdev_uinput;

namespace platform::linuxkeys {

// Receives the evdev events of the uinput device.
class EventSink {
  public:
    virtual ~EventSink() = default;
    // 0, or the negative errno of a write that failed.
    virtual int Emit(std::uint16_t type, std::uint16_t code, std::int32_t value) = 0;
    // Where the events sent to the device (its LEDs) can be read, as
    // struct input_event records, without blocking; -1 for nowhere.
    virtual int LedFd() const { return -1; }
};

// Caps Lock from the LED events the kernel hands the device whenever the
// desktop sets its keyboards' LEDs (GNOME and KDE do, on each change).
class CapsLockLed {
  public:
    void SetFd(int fd) { fd_ = fd, known_ = false, on_ = false; }
    // Reads what has come since, without waiting.
    void Read();
    // Whether any LED state has come, and Caps Lock's in the last one.
    bool Known() const { return known_; }
    bool On() const { return on_; }

  private:
    int fd_ = -1;
    bool known_ = false;
    bool on_ = false;
};

// Each key event is followed by its report, so a reader sees it at once.
class UinputInjector final : public KeyInjector {
  public:
    explicit UinputInjector(EventSink* sink = nullptr) : sink_(sink) {}
    void SetSink(EventSink* sink) { sink_ = sink, error_ = 0; }
    void SendKey(KeyCode code, bool down) override;
    // The error of the first write that failed since the last call, or 0.
    int TakeError() {
        const int error = error_;
        error_ = 0;
        return error;
    }

  private:
    EventSink* sink_;
    int error_ = 0;
};

// The kernel's uinput device: a keyboard with only keyboard keys and a Caps
// Lock LED (no buttons, no axes, no auto-repeat of our own).
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
    // The event node the kernel made for the device (/dev/input/eventN).
    const char* DeviceNode() const;
    int Emit(std::uint16_t type, std::uint16_t code, std::int32_t value) override;
    int LedFd() const override;

  private:
    libevdev_uinput* device_ = nullptr;
};

// What to tell the user about /dev/uinput, from the error of its open.
const char* UinputProblem(int error);

}  // namespace platform::linuxkeys
