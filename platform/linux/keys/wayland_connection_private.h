// The Wayland side of the keystroke output: the compositor's keymap and group
// as its wl_keyboard announces them (sent at once and again on each change),
// and the virtual keyboard of the wlroots compositors, on which the program
// types with a keymap of its own.
#pragma once

#include <cstddef>
#include <cstdint>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct wl_keyboard;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct xkb_context;
struct xkb_keymap;

namespace platform::linuxkeys {

// Our own keymaps carry this name (their group's), so that one of them coming back
// through wl_keyboard (our keyboard was the last to type) is not taken for
// the user's.
inline constexpr const char* kOwnKeymapName = "quorvelce";

class WaylandConnection {
  public:
    WaylandConnection() = default;
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;
    ~WaylandConnection() { Close(); }

    // The named display (null: $WAYLAND_DISPLAY), its seat and what the
    // compositor says at once. Null, or what is missing.
    const char* Open(const char* displayName, xkb_context* context);
    void Close();
    bool IsOpen() const { return display_ != nullptr; }

    // Reads what the compositor has sent since, without waiting.
    void Poll();
    // The compositor's keymap as last received (null: none came); a new
    // number with each keymap received.
    xkb_keymap* Keymap() const { return keymap_; }
    std::uint32_t KeymapSerial() const { return keymapSerial_; }
    // The group wl_keyboard.modifiers reported, if it ever did.
    bool GroupReported() const { return groupReported_; }
    std::uint32_t Group() const { return group_; }

    // Whether the compositor offers the virtual keyboard protocol.
    bool OffersVirtualKeyboard() const { return manager_ != nullptr; }
    // Makes our virtual keyboard on the seat; false when it cannot be made.
    bool CreateVirtualKeyboard();
    // Uploads `size` bytes of XKB keymap text (with its terminating zero)
    // and clears every modifier and the group on it, so that neither the
    // user's Caps Lock nor another keyboard's state reaches what it types.
    // False when the text cannot be handed over or the connection failed.
    bool UploadKeymap(const char* text, std::size_t size);
    // A press or release of an evdev key code of the uploaded keymap, sent
    // before the call returns.
    void Key(std::uint32_t evdevCode, bool down);
    // The keyboard's modifier masks and group, as a keyboard of the user's
    // reports them (the keys sent change nothing of them).
    void Modifiers(std::uint32_t depressed, std::uint32_t latched, std::uint32_t locked,
                   std::uint32_t group);
    // Returns once the compositor has handled every request sent so far.
    void Sync();
    // Why the last write failed (the compositor went away), or null.
    const char* Error() const;

    // For the listeners.
    void SeatCapabilities(std::uint32_t capabilities);
    void KeymapReceived(std::uint32_t format, int fd, std::uint32_t size);
    void ModifiersReceived(std::uint32_t group);
    void Global(wl_registry* registry, std::uint32_t name, const char* interface,
                std::uint32_t version);

  private:
    void Flush();

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    wl_keyboard* keyboard_ = nullptr;
    zwp_virtual_keyboard_manager_v1* manager_ = nullptr;
    zwp_virtual_keyboard_v1* virtual_ = nullptr;
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    std::uint32_t keymapSerial_ = 0;
    bool groupReported_ = false;
    std::uint32_t group_ = 0;
    bool hungUp_ = false;
};

}  // namespace platform::linuxkeys
