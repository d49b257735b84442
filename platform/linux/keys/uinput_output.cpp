// uinput key injection through libevdev, and its Caps Lock LED.
#include "platform/linux/keys/uinput_output_private.h"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <cerrno>

namespace platform::linuxkeys {

void UinputInjector::SendKey(KeyCode code, bool down) {
    if (sink_ == nullptr || code < kEvdevOffset) return;
    int error = sink_->Emit(EV_KEY, static_cast<std::uint16_t>(code - kEvdevOffset), down ? 1 : 0);
    if (error == 0) error = sink_->Emit(EV_SYN, SYN_REPORT, 0);
    if (error != 0 && error_ == 0) error_ = error;
}

int UinputDevice::Open() {
    Close();
    libevdev* description = libevdev_new();
    if (description == nullptr) return -ENOMEM;
    libevdev_set_name(description, "QuorvelCE scanner keyboard");
    libevdev_set_id_bustype(description, BUS_VIRTUAL);
    libevdev_enable_event_type(description, EV_KEY);
    // Every keyboard key the kernel knows below the buttons, so that any
    // keymap's key can be typed; no pointer buttons, so nothing takes the
    // device for a mouse.
    for (unsigned code = KEY_ESC; code < BTN_MISC; ++code) {
        libevdev_enable_event_code(description, EV_KEY, code, nullptr);
    }
    // A keyboard with a Caps Lock LED is told its state by the desktop.
    libevdev_enable_event_type(description, EV_LED);
    libevdev_enable_event_code(description, EV_LED, LED_CAPSL, nullptr);
    int result =
        libevdev_uinput_create_from_device(description, LIBEVDEV_UINPUT_OPEN_MANAGED, &device_);
    libevdev_free(description);
    if (result != 0) {
        device_ = nullptr;
        return result;
    }
    // The LED state is read before each line, never waited for; writes to
    // uinput do not block either way.
    const int fd = libevdev_uinput_get_fd(device_);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return 0;
}

void UinputDevice::Close() {
    if (device_ != nullptr) libevdev_uinput_destroy(device_);
    device_ = nullptr;
}

const char* UinputDevice::DeviceNode() const {
    return device_ == nullptr ? nullptr : libevdev_uinput_get_devnode(device_);
}

int UinputDevice::Emit(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    if (device_ == nullptr) return -ENODEV;
    int error;
    do {
        error = libevdev_uinput_write_event(device_, type, code, value);
    } while (error == -EINTR);
    return error;
}

int UinputDevice::LedFd() const {
    return device_ == nullptr ? -1 : libevdev_uinput_get_fd(device_);
}

void CapsLockLed::Read() {
    if (fd_ < 0) return;
    input_event events[16];
    for (;;) {
        // Non-blocking: the device's is made so at its open, a test's too.
        const ssize_t n = read(fd_, events, sizeof events);
        if (n < 0 && errno == EINTR) continue;
        if (n < static_cast<ssize_t>(sizeof events[0])) return;
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof events[0]; ++i) {
            if (events[i].type != EV_LED || events[i].code != LED_CAPSL) continue;
            known_ = true;
            on_ = events[i].value != 0;
        }
    }
}

const char* UinputProblem(int error) {
    if (error == -ENOENT || error == -ENODEV) {
        return "/dev/uinput does not exist (the uinput kernel module is not loaded)";
    }
    if (error == -EACCES || error == -EPERM) {
        return "/dev/uinput is not writable by this user (a udev rule can give the 'input' "
               "group access to it; then join that group)";
    }
    return "/dev/uinput cannot be used";
}

}  // namespace platform::linuxkeys
