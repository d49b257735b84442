// The kernel's uinput device: a keystroke typed through it comes out of its
// event node as the same key events, and the device is a keyboard only.
// Exits 77 (skipped) where /dev/uinput cannot be used.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>

#include "keystroke_lists.h"
#include "platform/linux/keys/key_layout_private.h"
#include "platform/linux/keys/typist_private.h"
#include "platform/linux/keys/uinput_output_private.h"

using namespace platform::linuxkeys;

namespace {

TEST(UinputDevice, KeystrokeComesOutOfTheEventNode) {
    UinputDevice device;
    ASSERT_EQ(device.Open(), 0);
    ASSERT_NE(device.DeviceNode(), nullptr);
    // udev may need a moment to give the node its permissions.
    int fd = -1;
    for (int i = 0; i < 50 && fd < 0; ++i) {
        fd = open(device.DeviceNode(), O_RDONLY | O_NONBLOCK);
        if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GE(fd, 0) << device.DeviceNode();
    libevdev* reader = nullptr;
    ASSERT_EQ(libevdev_new_from_fd(fd, &reader), 0);
    // Ours alone: on a desktop the Shift+A below would otherwise go to
    // whatever window has the focus.
    ASSERT_EQ(libevdev_grab(reader, LIBEVDEV_GRAB), 0) << "cannot grab " << device.DeviceNode();
    EXPECT_TRUE(libevdev_has_event_code(reader, EV_KEY, KEY_A));
    EXPECT_TRUE(libevdev_has_event_code(reader, EV_KEY, KEY_RIGHTALT));
    EXPECT_FALSE(libevdev_has_event_code(reader, EV_KEY, BTN_LEFT));
    EXPECT_FALSE(libevdev_has_event_type(reader, EV_REL));
    EXPECT_FALSE(libevdev_has_event_type(reader, EV_ABS));

    KeyLayout layout;
    layout.BuildFallback();
    UinputInjector injector(&device);
    KeyTypist typist(layout, injector);
    keystroke_lists::TypeAsLine({U'A', 'A', true, false},
                                [&](std::uint8_t vk, bool d) { typist.KeyEvent(vk, d); });

    std::vector<std::pair<int, int>> keys;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (keys.size() < 4 && std::chrono::steady_clock::now() < deadline) {
        input_event event{};
        int rc = libevdev_next_event(reader, LIBEVDEV_READ_FLAG_NORMAL, &event);
        if (rc == LIBEVDEV_READ_STATUS_SUCCESS && event.type == EV_KEY) {
            keys.push_back({event.code, event.value});
        } else if (rc == -EAGAIN) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    EXPECT_EQ(keys, (std::vector<std::pair<int, int>>{
                        {KEY_LEFTSHIFT, 1}, {KEY_A, 1}, {KEY_A, 0}, {KEY_LEFTSHIFT, 0}}));
    libevdev_grab(reader, LIBEVDEV_UNGRAB);
    libevdev_free(reader);
    close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (access("/dev/uinput", W_OK) != 0) {
        std::puts("/dev/uinput is absent or not writable: skipped");
        return 77;
    }
    return RUN_ALL_TESTS();
}
