// The keystroke output of a Linux session: XTest on an X11 session; under
// Wayland the compositor's virtual keyboard where it offers one, else a
// uinput device (also with no display at all); or a message saying what is
// missing. Keeps the layout in step with the X server's or the compositor's
// (a change while the program runs is followed before the next key press).
// One thread at a time: the caller serialises.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/codes.h"
#include "platform/linux/keys/compose_private.h"
#include "platform/linux/keys/key_layout_private.h"
#include "platform/linux/keys/key_record_private.h"
#include "platform/linux/keys/keyboard_names_private.h"
#include "platform/linux/keys/layout_queries_private.h"
#include "platform/linux/keys/own_keymap_private.h"
#include "platform/linux/keys/spare_characters_private.h"
#include "platform/linux/keys/typist_private.h"
#include "platform/linux/keys/uinput_output_private.h"
#include "platform/linux/keys/wayland_connection_private.h"
#include "platform/linux/keys/x_connection_private.h"
#include "platform/linux/keys/xtest_output_private.h"

struct xkb_context;

namespace platform::linuxkeys {

class KeyOutput final : private KeyInjector {
  public:
    enum class Kind { kNone, kXTest, kVirtualKeyboard, kUinput };

    KeyOutput() = default;
    KeyOutput(const KeyOutput&) = delete;
    KeyOutput& operator=(const KeyOutput&) = delete;
    ~KeyOutput() override { Close(); }

    // Chooses and opens the output for this session: XTest when there is an
    // X display and the session is not Wayland; under Wayland the
    // compositor's virtual keyboard where it offers one; otherwise uinput
    // when /dev/uinput can be used. Returns null, or a message naming what
    // is missing (kept until the next Open or Close).
    const char16_t* Open();
    // XTest on the named display (null: $DISPLAY).
    const char16_t* OpenX(const char* displayName);
    // The virtual keyboard of the named Wayland display (null:
    // $WAYLAND_DISPLAY). When the connection fails later (the compositor
    // ended), it is made again at the start of the next line that types a
    // character (a compositor restarted on the same display, or a session
    // that came back), and again at each line until it is.
    const char16_t* OpenVirtualKeyboard(const char* displayName);
    // uinput on the layout of the compositor at `waylandDisplay` (null: on
    // none) when it sends one, else of `names`; events go to `sink`, or to a
    // new kernel device when `sink` is null.
    const char16_t* OpenUinput(EventSink* sink, const KeyboardNames& names,
                               const char* waylandDisplay = nullptr);
    // Releases every key still down, then closes.
    void Close();

    Kind kind() const { return kind_; }
    const KeyLayout& layout() const { return layout_; }

    void SetHints(const KeyHint* hints, std::size_t count);
    // One Windows key event; ignored while nothing is open.
    void KeyEvent(std::uint8_t virtualKey, bool down);
    void ReleaseAll() {
        characters_.Release();
        typist_.ReleaseAll();
        ReleaseOwnKeys();
    }
    // Returns once the X server has handled every event sent so far (before
    // closing, or to read what a client received).
    void Sync();

    // The layout's identity, after any change the server announced: the
    // same for the same keymap and group, another one after a change; 0
    // while nothing is open.
    std::uintptr_t LayoutIdentity();
    // The identity as last read (no look for changes).
    std::uintptr_t CurrentIdentity() const { return kind_ == Kind::kNone ? 0 : identity_; }
    // The layout's name as the user chose it ("fr", "us(dvorak)").
    const char* LayoutName() const { return layoutName_; }
    // Windows' layout questions on the current layout.
    std::int16_t KeyScan(char16_t character) const;
    std::uint32_t ScanCode(std::uint8_t virtualKey) const;
    int ToUnicode(std::uint8_t virtualKey, const std::uint8_t* keyState, char16_t* buffer,
                  int bufferSize);
    // After a key event: null, or (once) the message that a write to the
    // uinput device failed or the compositor's connection was lost, so that
    // key events are being lost; and (once) that the connection could not
    // be made again (`cannotType` set then). Said again after a connection
    // made again is lost.
    const char16_t* WriteFailure(bool* cannotType = nullptr);
    // Caps Lock as the X server has it, as the desktop last set the uinput
    // device's LED (off until it does), or as the virtual keyboard has it
    // (always off: its state is its own).
    bool CapsLockOn();
    // Once, when Caps Lock is asked of a uinput device a second time (the
    // first line may come before the desktop has opened the new device)
    // and the desktop has never set its LED: the message that lines typed with Caps Lock on
    // come out with their letters' case turned. Null otherwise.
    const char16_t* CapsLockUnknown();
    // The X window with the keyboard focus; 0 for none or no X.
    unsigned long FocusWindow();
    // A press or release of a character that no key of the layout types: on
    // X a spare key code bound to it, on the virtual keyboard a code of our
    // own keymap. False where that cannot be (uinput, no spare code): the
    // character is left out.
    bool CharacterEvent(char32_t character, bool down);
    // The characters a line is about to type through CharacterEvent: on X
    // their codes are bound ahead, with one wait for all of them.
    void PrepareCharacters(const char16_t* characters, std::size_t count);
    // Cuts short a wait for a free spare code (a quit); safe from any thread.
    void CancelWaits(bool cancel) { characters_.keys().CancelWaits(cancel); }

  private:
    void SendKey(KeyCode code, bool down) override;
    bool ReadXKeymap();
    bool ReadCompositorKeymap();
    // The layout the system's keyboard configuration names (an unknown one
    // types on the US positions).
    void ReadSystemKeymap(const KeyboardNames& names);
    const char* ConnectVirtualKeyboard(bool again);
    void ReconnectIfLost();
    void VirtualKeyEvent(std::uint8_t virtualKey, bool down);
    KeyCode BindOwn(std::uint32_t keysym);
    void PressOwn(KeyCode code, bool down);
    void ReleaseOwnKeys();
    const char16_t* FailWayland(const char* problem);
    void FollowLayoutChanges();
    void LayoutRead();
    const char16_t* Fail(const char* problem, const char* otherProblem);
    const char16_t* FailX(const char* problem);

    Kind kind_ = Kind::kNone;
    KeyLayout layout_;
    KeyTypist typist_{layout_, *this};
    KeyInjector* injector_ = nullptr;
    xkb_context* context_ = nullptr;

    DeadKeys deadKeys_;
    LayoutQueries queries_;
    std::uintptr_t identity_ = 0;
    char layoutName_[128] = {};

    // XTest: Xlib for the events and the layout notices; the keymap is read
    // through xkbcommon (xkb_keymap.cpp).
    XConnection x_;
    std::uint32_t group_ = 0;
    XTestInjector xtest_;
    // Kept for the process: claimed at the first XTest open.
    KeyRecord record_;
    SpareCharacters characters_{typist_, xtest_};

    // Wayland: the compositor's keymap (for uinput and for the tables' keys)
    // and the virtual keyboard with its keymap of our own.
    WaylandConnection wayland_;
    std::uint32_t waylandSerial_ = 0;
    OwnKeymap own_;
    char ownText_[OwnKeymap::kTextSize] = {};
    // What each virtual key, and the character being typed, pressed.
    KeyCode ownPressed_[256] = {};
    KeyCode ownCharacter_ = kNoKey;
    bool shiftHeld_ = false;
    bool controlHeld_ = false;
    bool altHeld_ = false;
    // The display the virtual keyboard connects to again ("": $WAYLAND_DISPLAY).
    char waylandName_[108] = {};
    bool waylandLostShown_ = false;
    // A loss noticed where nothing could say it (at a line's start).
    const char* lostProblem_ = nullptr;
    // Why the connection could not be made again (null: it was, or it was
    // not lost), and whether that has been said.
    const char* reconnectProblem_ = nullptr;
    bool reconnectProblemShown_ = false;

    // uinput.
    UinputDevice device_;
    UinputInjector uinput_;
    CapsLockLed capsLed_;
    int capsAsked_ = 0;
    bool capsUnknownShown_ = false;
    bool uinputFailureShown_ = false;
    // A new kernel device is read by the desktop only once it has noticed it;
    // the first event waits until then (CLOCK_MONOTONIC nanoseconds).
    std::int64_t settleUntilNs_ = 0;

    const char* xProblem_ = "";
    const char* waylandProblem_ = "";
    int uinputError_ = 0;
    char16_t message_[kReportCapacity] = {};
};

}  // namespace platform::linuxkeys
