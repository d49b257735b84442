// libwayland-client under the Wayland keystroke output: the seat's keyboard
// for the compositor's keymap, and our virtual keyboard.
#include "platform/linux/keys/wayland_connection_private.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/monotonic_clock_private.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace platform::linuxkeys {
namespace {

WaylandConnection* Self(void* data) {
    return static_cast<WaylandConnection*>(data);
}

void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t version) {
    Self(data)->Global(registry, name, interface, version);
}
void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

void OnCapabilities(void* data, wl_seat*, std::uint32_t capabilities) {
    Self(data)->SeatCapabilities(capabilities);
}
void OnSeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {OnCapabilities, OnSeatName};

void OnKeymap(void* data, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size) {
    Self(data)->KeymapReceived(format, fd, size);
}
void OnEnter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
void OnLeave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void OnKey(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void OnModifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                 std::uint32_t, std::uint32_t group) {
    Self(data)->ModifiersReceived(group);
}
void OnRepeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
const wl_keyboard_listener kKeyboardListener = {OnKeymap, OnEnter,     OnLeave,
                                                OnKey,    OnModifiers, OnRepeatInfo};

}  // namespace

const char* WaylandConnection::Open(const char* displayName, xkb_context* context) {
    Close();
    context_ = context;
    display_ = wl_display_connect(displayName);
    if (display_ == nullptr) return "the Wayland session's compositor cannot be reached";
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &kRegistryListener, this);
    // The globals, then the seat's capabilities, then the keyboard's keymap.
    for (int i = 0; i < 3; ++i) wl_display_roundtrip(display_);
    if (seat_ == nullptr) {
        Close();
        return "the Wayland compositor has no seat";
    }
    return nullptr;
}

void WaylandConnection::Close() {
    if (virtual_ != nullptr) zwp_virtual_keyboard_v1_destroy(virtual_);
    if (manager_ != nullptr) zwp_virtual_keyboard_manager_v1_destroy(manager_);
    if (keyboard_ != nullptr) wl_keyboard_destroy(keyboard_);
    if (seat_ != nullptr) wl_seat_destroy(seat_);
    if (registry_ != nullptr) wl_registry_destroy(registry_);
    if (display_ != nullptr) {
        wl_display_flush(display_);
        wl_display_disconnect(display_);
    }
    virtual_ = nullptr;
    manager_ = nullptr;
    keyboard_ = nullptr;
    seat_ = nullptr;
    registry_ = nullptr;
    display_ = nullptr;
    if (keymap_ != nullptr) xkb_keymap_unref(keymap_);
    keymap_ = nullptr;
    groupReported_ = false;
    group_ = 0;
    hungUp_ = false;
}

void WaylandConnection::Global(wl_registry* registry, std::uint32_t name, const char* interface,
                               std::uint32_t version) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && seat_ == nullptr) {
        // Version 5 is the first whose keyboard has repeat info; 4 is enough.
        const std::uint32_t bound = version < 4 ? version : 4;
        seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, bound));
        wl_seat_add_listener(seat_, &kSeatListener, this);
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        manager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
}

void WaylandConnection::SeatCapabilities(std::uint32_t capabilities) {
    // Headless or with the keyboard unplugged there is none yet; one that
    // comes later brings its keymap then.
    const bool has = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    if (has && keyboard_ == nullptr) {
        keyboard_ = wl_seat_get_keyboard(seat_);
        wl_keyboard_add_listener(keyboard_, &kKeyboardListener, this);
    } else if (!has && keyboard_ != nullptr) {
        wl_keyboard_release(keyboard_);
        keyboard_ = nullptr;
    }
}

void WaylandConnection::KeymapReceived(std::uint32_t format, int fd, std::uint32_t size) {
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || size == 0 || context_ == nullptr) {
        close(fd);
        return;
    }
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (text == MAP_FAILED) return;
    const char* keymapText = static_cast<const char*>(text);
    // Ours, sent back because our keyboard typed last: the user's is unchanged.
    char ownName[64] = "\"";
    std::strcat(ownName, kOwnKeymapName);
    std::strcat(ownName, "\"");
    const bool own = memmem(keymapText, size, ownName, std::strlen(ownName)) != nullptr;
    xkb_keymap* keymap =
        own ? nullptr
            : xkb_keymap_new_from_buffer(context_, keymapText, strnlen(keymapText, size),
                                         XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    munmap(text, size);
    if (keymap == nullptr) return;
    if (keymap_ != nullptr) xkb_keymap_unref(keymap_);
    keymap_ = keymap;
    ++keymapSerial_;
}

void WaylandConnection::ModifiersReceived(std::uint32_t group) {
    // A change of group is a change of layout to the questions asked of it.
    if (!groupReported_ || group != group_) ++keymapSerial_;
    groupReported_ = true;
    group_ = group;
}

void WaylandConnection::Poll() {
    // A connection in error dispatches nothing more: the events still queued
    // would keep prepare_read refusing for ever.
    if (display_ == nullptr || Error() != nullptr) return;
    while (wl_display_prepare_read(display_) != 0)
        if (wl_display_dispatch_pending(display_) < 0) return;
    Flush();
    pollfd ready{wl_display_get_fd(display_), POLLIN, 0};
    // A compositor that ended leaves the socket hung up, which libwayland
    // does not count as an error.
    if (poll(&ready, 1, 0) == 1 && (ready.revents & (POLLHUP | POLLERR)) != 0) hungUp_ = true;
    if ((ready.revents & POLLIN) != 0) {
        wl_display_read_events(display_);
    } else {
        wl_display_cancel_read(display_);
    }
    wl_display_dispatch_pending(display_);
}

bool WaylandConnection::CreateVirtualKeyboard() {
    if (manager_ == nullptr || seat_ == nullptr) return false;
    if (virtual_ == nullptr) {
        virtual_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager_, seat_);
    }
    // A compositor that refuses (unauthorized) ends the connection.
    return wl_display_roundtrip(display_) >= 0;
}

bool WaylandConnection::UploadKeymap(const char* text, std::size_t size) {
    // libwayland drops the requests of a connection in error without a word.
    if (virtual_ == nullptr || Error() != nullptr) return false;
    const int fd = memfd_create("quorvelce-keymap", MFD_CLOEXEC);
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, text + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    if (written == size) {
        zwp_virtual_keyboard_v1_keymap(virtual_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<std::uint32_t>(size));
        zwp_virtual_keyboard_v1_modifiers(virtual_, 0, 0, 0, 0);
        Flush();
    }
    close(fd);
    return written == size && Error() == nullptr;
}

void WaylandConnection::Key(std::uint32_t evdevCode, bool down) {
    if (virtual_ == nullptr) return;
    // Milliseconds, as a keyboard's events carry them.
    const auto time = static_cast<std::uint32_t>(linux_backend::MonotonicNs() / 1'000'000);
    zwp_virtual_keyboard_v1_key(
        virtual_, time, evdevCode,
        down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    Flush();
}

void WaylandConnection::Modifiers(std::uint32_t depressed, std::uint32_t latched,
                                  std::uint32_t locked, std::uint32_t group) {
    if (virtual_ == nullptr) return;
    zwp_virtual_keyboard_v1_modifiers(virtual_, depressed, latched, locked, group);
    Flush();
}

void WaylandConnection::Sync() {
    if (display_ != nullptr) wl_display_roundtrip(display_);
}

void WaylandConnection::Flush() {
    if (wl_display_flush(display_) < 0 && errno == EPIPE) hungUp_ = true;
}

const char* WaylandConnection::Error() const {
    if (display_ == nullptr || (!hungUp_ && wl_display_get_error(display_) == 0)) return nullptr;
    return "the Wayland compositor closed the connection";
}

}  // namespace platform::linuxkeys
