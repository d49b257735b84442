// Choosing the keystroke output and reading the layout it types on.
#include "platform/linux/key_output.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/text.h"

namespace platform::linuxkeys {
namespace {

// How long a desktop takes to open a new input device and read from it.
constexpr std::int64_t kUinputSettleNs = 300'000'000;

bool IsSet(const char* value) {
    return value != nullptr && value[0] != 0;
}

void CopyField(char* destination, std::size_t capacity, const char* source) {
    std::snprintf(destination, capacity, "%s", source == nullptr ? "" : source);
}

std::int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// What to tell the user about /dev/uinput, from the error of its open.
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

}  // namespace

KeyboardNames ReadKeyboardNames(const char* file) {
    KeyboardNames names;
    if (IsSet(std::getenv("XKB_DEFAULT_LAYOUT"))) {
        CopyField(names.layout, sizeof names.layout, std::getenv("XKB_DEFAULT_LAYOUT"));
        CopyField(names.variant, sizeof names.variant, std::getenv("XKB_DEFAULT_VARIANT"));
        CopyField(names.model, sizeof names.model, std::getenv("XKB_DEFAULT_MODEL"));
        CopyField(names.options, sizeof names.options, std::getenv("XKB_DEFAULT_OPTIONS"));
        return names;
    }
    if (std::FILE* in = file != nullptr ? std::fopen(file, "r") : nullptr) {
        char line[256];
        while (std::fgets(line, sizeof line, in) != nullptr) {
            // KEY="value" or KEY=value, as the shell reads it.
            char* equals = std::strchr(line, '=');
            if (equals == nullptr || line[0] == '#') continue;
            *equals = 0;
            char* value = equals + 1;
            value[std::strcspn(value, "\r\n")] = 0;
            std::size_t length = std::strlen(value);
            if (length >= 2 && (value[0] == '"' || value[0] == '\'') &&
                value[length - 1] == value[0]) {
                value[length - 1] = 0;
                ++value;
            }
            if (std::strcmp(line, "XKBLAYOUT") == 0)
                CopyField(names.layout, sizeof names.layout, value);
            if (std::strcmp(line, "XKBVARIANT") == 0)
                CopyField(names.variant, sizeof names.variant, value);
            if (std::strcmp(line, "XKBMODEL") == 0)
                CopyField(names.model, sizeof names.model, value);
            if (std::strcmp(line, "XKBOPTIONS") == 0)
                CopyField(names.options, sizeof names.options, value);
        }
        std::fclose(in);
    }
    if (names.layout[0] == 0) CopyField(names.layout, sizeof names.layout, "us");
    return names;
}

const char16_t* KeyOutput::Fail(const char* problem, const char* otherProblem) {
    Close();
    char text[260];
    if (otherProblem == nullptr) {
        std::snprintf(text, sizeof text, "Keystrokes cannot be typed: %s.", problem);
    } else {
        std::snprintf(text, sizeof text, "Keystrokes cannot be typed: %s, and %s.", problem,
                      otherProblem);
    }
    const std::ptrdiff_t n =
        DecodeUtf8(reinterpret_cast<const unsigned char*>(text), std::strlen(text), message_,
                   sizeof message_ / sizeof message_[0] - 1);
    message_[n > 0 ? n : 0] = 0;
    return message_;
}

const char16_t* KeyOutput::Open() {
    const char* session = std::getenv("XDG_SESSION_TYPE");
    const bool wayland = IsSet(std::getenv("WAYLAND_DISPLAY")) ||
                         (session != nullptr && std::strcmp(session, "wayland") == 0);
    // Under Wayland, XTest would reach only the X programs the session runs.
    const char* xProblem = "this is a Wayland session";
    if (!wayland) {
        xProblem = "there is no X display (DISPLAY is not set)";
        if (IsSet(std::getenv("DISPLAY"))) {
            if (OpenX(nullptr) == nullptr) return nullptr;
            xProblem = xProblem_;
        }
    }
    if (OpenUinput(nullptr, ReadKeyboardNames()) == nullptr) return nullptr;
    return Fail(xProblem, UinputProblem(uinputError_));
}

const char16_t* KeyOutput::FailX(const char* problem) {
    xProblem_ = problem;
    return Fail(problem, nullptr);
}

const char16_t* KeyOutput::OpenX(const char* displayName) {
    Close();
    display_ = XOpenDisplay(displayName);
    if (display_ == nullptr) return FailX("the X display cannot be opened");
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) {
        return FailX("the X server has no XTEST extension");
    }
    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    if (!XkbQueryExtension(display_, &opcode, &xkbEventBase_, &error, &major, &minor)) {
        return FailX("the X server has no XKEYBOARD extension");
    }
    // Layout changes (setxkbmap, a new keyboard) and group switches reach us
    // as XKB notices, read before each key press.
    const unsigned notices = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    XkbSelectEvents(display_, XkbUseCoreKbd, notices, notices);
    XkbSelectEventDetails(display_, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask,
                          XkbGroupStateMask);

    context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (context_ == nullptr || !ReadXKeymap()) {
        return FailX("the X server's keyboard layout cannot be read");
    }
    deadKeys_.Load(context_);
    xtest_.SetDisplay(display_);
    injector_ = &xtest_;
    kind_ = Kind::kXTest;
    message_[0] = 0;
    return nullptr;
}

bool KeyOutput::ReadXKeymap() {
    xcb_connection_t* xcb = xcb_connect(DisplayString(display_), nullptr);
    bool built = false;
    if (xcb_connection_has_error(xcb) == 0 &&
        xkb_x11_setup_xkb_extension(
            xcb, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
        const std::int32_t device = xkb_x11_get_core_keyboard_device_id(xcb);
        xkb_keymap* keymap = device < 0 ? nullptr
                                        : xkb_x11_keymap_new_from_device(
                                              context_, xcb, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (keymap != nullptr) {
            xkb_state* state = xkb_x11_state_new_from_device(keymap, xcb, device);
            group_ = state == nullptr
                         ? 0
                         : xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE);
            if (state != nullptr) xkb_state_unref(state);
            built = layout_.Build(keymap, group_);
            xkb_keymap_unref(keymap);
        }
    }
    xcb_disconnect(xcb);
    if (built) {
        ReadXLayoutName();
        LayoutRead();
    }
    return built;
}

void KeyOutput::LayoutRead() {
    identity_ = layout_.Fingerprint();
    queries_.Reset();
}

// The layout names setxkbmap and the desktops leave on the root window
// (rules, model, layout, variant, options, each ended by a zero byte).
void KeyOutput::ReadXLayoutName() {
    CopyField(layoutName_, sizeof layoutName_, "the X keyboard layout");
    const Atom names = XInternAtom(display_, "_XKB_RULES_NAMES", True);
    if (names == None) return;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display_, DefaultRootWindow(display_), names, 0, 1024, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) != Success ||
        data == nullptr)
        return;
    const char* fields[5] = {};
    std::size_t at = 0;
    for (int i = 0; i < 5 && at < count; ++i) {
        fields[i] = reinterpret_cast<const char*>(data) + at;
        at += std::strlen(fields[i]) + 1;
    }
    if (fields[2] != nullptr && fields[2][0] != 0) {
        const bool variant = fields[3] != nullptr && fields[3][0] != 0;
        std::snprintf(layoutName_, sizeof layoutName_, variant ? "%s(%s)" : "%s", fields[2],
                      variant ? fields[3] : "");
    }
    XFree(data);
}

// A map notice is ours when every key it names is a spare key we bound.
bool KeyOutput::OursOnly(const void* mapNotice) const {
    const auto& n = *static_cast<const XkbMapNotifyEvent*>(mapNotice);
    const int ranges[][2] = {
        {n.first_key_sym, n.num_key_syms},           {n.first_key_act, n.num_key_acts},
        {n.first_key_behavior, n.num_key_behaviors}, {n.first_key_explicit, n.num_key_explicit},
        {n.first_modmap_key, n.num_modmap_keys},     {n.first_vmodmap_key, n.num_vmodmap_keys}};
    bool any = false;
    for (const auto& range : ranges) {
        if (range[1] == 0) continue;
        if (!spares_.AllOurs(range[0], range[1])) return false;
        any = true;
    }
    return any;
}

void KeyOutput::FollowLayoutChanges() {
    bool changed = false;
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type != xkbEventBase_) continue;
        const auto& notice = reinterpret_cast<const XkbEvent&>(event);
        if (notice.any.xkb_type == XkbNewKeyboardNotify) {
            // A new keymap has none of our bindings left.
            spares_.Forget();
            changed = true;
        } else if (notice.any.xkb_type == XkbMapNotify) {
            // Our own bindings of spare keys change nothing the layout types.
            if (!OursOnly(&notice.map)) changed = true;
        } else if (notice.any.xkb_type == XkbStateNotify &&
                   static_cast<std::uint32_t>(notice.state.group) != group_) {
            changed = true;
        }
    }
    // A keymap that cannot be read keeps the one we had.
    if (changed) ReadXKeymap();
}

const char16_t* KeyOutput::OpenUinput(EventSink* sink, const KeyboardNames& names) {
    Close();
    context_ = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    xkb_keymap* keymap = nullptr;
    if (context_ != nullptr) {
        const xkb_rule_names rules{nullptr, names.model[0] != 0 ? names.model : nullptr,
                                   names.layout[0] != 0 ? names.layout : nullptr,
                                   names.variant[0] != 0 ? names.variant : nullptr,
                                   names.options[0] != 0 ? names.options : nullptr};
        keymap = xkb_keymap_new_from_names(context_, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    // An unknown layout still types, on the US positions.
    layout_.Build(keymap, 0);
    if (keymap != nullptr) xkb_keymap_unref(keymap);
    deadKeys_.Load(context_);
    std::snprintf(layoutName_, sizeof layoutName_, names.variant[0] != 0 ? "%s(%s)" : "%s",
                  names.layout, names.variant);
    LayoutRead();

    if (sink == nullptr) {
        uinputError_ = device_.Open();
        if (uinputError_ != 0) return Fail(UinputProblem(uinputError_), nullptr);
        sink = &device_;
        settleUntilNs_ = MonotonicNs() + kUinputSettleNs;
    }
    uinput_.SetSink(sink);
    injector_ = &uinput_;
    kind_ = Kind::kUinput;
    message_[0] = 0;
    return nullptr;
}

void KeyOutput::Close() {
    if (characterDown_ != kNoKey) CharacterEvent(0, false);
    typist_.ReleaseAll();
    if (display_ != nullptr) spares_.Restore(display_);
    spares_.Forget();
    Sync();
    injector_ = nullptr;
    kind_ = Kind::kNone;
    xtest_.SetDisplay(nullptr);
    uinput_.SetSink(nullptr);
    device_.Close();
    settleUntilNs_ = 0;
    if (display_ != nullptr) XCloseDisplay(display_);
    display_ = nullptr;
    deadKeys_.Unload();
    if (context_ != nullptr) xkb_context_unref(context_);
    context_ = nullptr;
    identity_ = 0;
    layoutName_[0] = 0;
}

void KeyOutput::SetHints(const KeyHint* hints, std::size_t count) {
    layout_.SetHints(hints, count);
}

void KeyOutput::KeyEvent(std::uint8_t virtualKey, bool down) {
    if (injector_ == nullptr) return;
    if (down && kind_ == Kind::kXTest) FollowLayoutChanges();
    typist_.KeyEvent(virtualKey, down);
}

void KeyOutput::Sync() {
    if (display_ != nullptr) XSync(display_, False);
}

void KeyOutput::SendKey(KeyCode code, bool down) {
    if (settleUntilNs_ != 0) {
        const timespec until{static_cast<time_t>(settleUntilNs_ / 1'000'000'000),
                             static_cast<long>(settleUntilNs_ % 1'000'000'000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
        settleUntilNs_ = 0;
    }
    if (injector_ != nullptr) injector_->SendKey(code, down);
}

}  // namespace platform::linuxkeys

namespace platform::linuxkeys {

std::uintptr_t KeyOutput::LayoutIdentity() {
    if (kind_ == Kind::kXTest) FollowLayoutChanges();
    return CurrentIdentity();
}

std::int16_t KeyOutput::KeyScan(char16_t character) const {
    return LayoutQueries::KeyScan(layout_, character);
}

std::uint32_t KeyOutput::ScanCode(std::uint8_t virtualKey) const {
    return LayoutQueries::ScanCode(layout_, virtualKey);
}

int KeyOutput::ToUnicode(std::uint8_t virtualKey, const std::uint8_t* keyState, char16_t* buffer,
                         int bufferSize) {
    return queries_.ToUnicode(layout_, deadKeys_, virtualKey, keyState, buffer, bufferSize);
}

bool KeyOutput::CapsLockOn() {
    if (display_ == nullptr) return false;
    // A round trip: the server has handled our own Caps Lock presses first.
    XkbStateRec state{};
    if (XkbGetState(display_, XkbUseCoreKbd, &state) != Success) return false;
    return (state.locked_mods & LockMask) != 0;
}

unsigned long KeyOutput::FocusWindow() {
    if (display_ == nullptr) return 0;
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    return focus == PointerRoot ? DefaultRootWindow(display_) : focus;
}

bool KeyOutput::CharacterEvent(char32_t character, bool down) {
    if (kind_ != Kind::kXTest) return false;
    if (!down) {
        if (characterDown_ == kNoKey) return true;
        xtest_.SendKey(characterDown_, false);
        characterDown_ = kNoKey;
        if (characterShift_) typist_.KeyEvent(0x10, false);
        characterShift_ = false;
        return true;
    }
    FollowLayoutChanges();
    if (characterDown_ != kNoKey) CharacterEvent(0, false);
    bool shift = false;
    const KeyCode code = spares_.Bind(display_, character, shift);
    if (code == kNoKey) return false;
    if (shift) typist_.KeyEvent(0x10, true);
    characterShift_ = shift;
    xtest_.SendKey(code, true);
    characterDown_ = code;
    return true;
}

}  // namespace platform::linuxkeys
