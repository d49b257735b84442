// The keystroke output of a Linux session: XTest on an X11 session, a uinput
// device on Wayland or with no X display, or a message saying what is
// missing. Keeps the layout in step with the X server's (a setxkbmap while
// the program runs is followed before the next key press).
// One thread at a time: the caller serialises.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/linux/key_compose.h"
#include "platform/linux/key_injectors.h"
#include "platform/linux/key_layout.h"
#include "platform/linux/key_spares.h"
#include "platform/linux/key_typist.h"
#include "platform/linux/layout_queries.h"

struct xkb_context;

namespace platform::linuxkeys {

// The system's keyboard configuration, as XKB rule names.
struct KeyboardNames {
    char model[64] = {};
    char layout[64] = {};
    char variant[64] = {};
    char options[128] = {};
};

// XKB_DEFAULT_LAYOUT (with XKB_DEFAULT_VARIANT, _MODEL, _OPTIONS) when set,
// else XKBLAYOUT and the others from `file` (Debian's /etc/default/keyboard),
// else "us".
KeyboardNames ReadKeyboardNames(const char* file = "/etc/default/keyboard");

class KeyOutput final : private KeyInjector {
  public:
    enum class Kind { kNone, kXTest, kUinput };

    KeyOutput() = default;
    KeyOutput(const KeyOutput&) = delete;
    KeyOutput& operator=(const KeyOutput&) = delete;
    ~KeyOutput() override { Close(); }

    // Chooses and opens the output for this session: XTest when there is an
    // X display and the session is not Wayland, otherwise uinput when
    // /dev/uinput can be used. Returns null, or a message naming what is
    // missing (kept until the next Open or Close).
    const char16_t* Open();
    // XTest on the named display (null: $DISPLAY).
    const char16_t* OpenX(const char* displayName);
    // uinput with the layout of `names`; events go to `sink`, or to a new
    // kernel device when `sink` is null.
    const char16_t* OpenUinput(EventSink* sink, const KeyboardNames& names);
    // Releases every key still down, then closes.
    void Close();

    Kind kind() const { return kind_; }
    const KeyLayout& layout() const { return layout_; }

    void SetHints(const KeyHint* hints, std::size_t count);
    // One Windows key event; ignored while nothing is open.
    void KeyEvent(std::uint8_t virtualKey, bool down);
    void ReleaseAll() {
        if (characterDown_ != kNoKey) CharacterEvent(0, false);
        typist_.ReleaseAll();
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
    // Caps Lock as the X server has it (through uinput nobody can tell:
    // taken as off).
    bool CapsLockOn();
    // The X window with the keyboard focus; 0 for none or no X.
    unsigned long FocusWindow();
    // A press or release of a character that no key of the layout types: on
    // X a spare key code bound to it. False where that cannot be (uinput, no
    // spare code): the character is left out.
    bool CharacterEvent(char32_t character, bool down);

  private:
    void SendKey(KeyCode code, bool down) override;
    bool ReadXKeymap();
    void ReadXLayoutName();
    void FollowLayoutChanges();
    bool OursOnly(const void* mapNotice) const;
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
    // through xkbcommon on an XCB connection of its own, made for each read
    // (a connection left open would collect every notice sent to clients).
    _XDisplay* display_ = nullptr;
    int xkbEventBase_ = 0;
    std::uint32_t group_ = 0;
    XTestInjector xtest_;
    SpareKeys spares_;
    KeyCode characterDown_ = kNoKey;
    bool characterShift_ = false;

    // uinput.
    UinputDevice device_;
    UinputInjector uinput_;
    // A new kernel device is read by the desktop only once it has noticed it;
    // the first event waits until then (CLOCK_MONOTONIC nanoseconds).
    std::int64_t settleUntilNs_ = 0;

    const char* xProblem_ = "";
    int uinputError_ = 0;
    char16_t message_[260] = {};
};

}  // namespace platform::linuxkeys
