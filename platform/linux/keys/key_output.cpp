// Choosing the keystroke output for the session and keeping the layout it
// types on in step with the X server's.
#include "platform/linux/keys/key_output_private.h"

#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/linux/keys/layout_changes_private.h"
#include "platform/linux/keys/session_private.h"
#include "platform/linux/keys/xkb_keymap_private.h"
#include "platform/linux/monotonic_clock_private.h"
#include "platform/text.h"

namespace platform::linuxkeys {
namespace {

// How long a desktop takes to open a new input device and read from it.
constexpr std::int64_t kUinputSettleNs = 300'000'000;
// A line's characters bound ahead at most; more are bound as they come.
constexpr std::size_t kLineCharacters = 128;

}  // namespace

const char16_t* KeyOutput::Fail(const char* problem, const char* otherProblem) {
    Close();
    char text[kTextCapacity];
    if (otherProblem == nullptr) {
        std::snprintf(text, sizeof text, "Keystrokes cannot be typed: %s.", problem);
    } else {
        std::snprintf(text, sizeof text, "Keystrokes cannot be typed: %s, and %s.", problem,
                      otherProblem);
    }
    DecodeUtf8Terminated(text, message_, std::size(message_));
    return message_;
}

const char16_t* KeyOutput::Open() {
    const Session session = DetectSession();
    const char* xProblem = WhyNoXTest(session);
    if (session == Session::kX11) {
        if (OpenX(nullptr) == nullptr) return nullptr;
        xProblem = xProblem_;
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
    if (const char* problem = x_.Open(displayName); problem != nullptr) return FailX(problem);
    context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (context_ == nullptr || !ReadXKeymap()) {
        return FailX("the X server's keyboard layout cannot be read");
    }
    deadKeys_.Load(context_);
    // Before our first key: what a run killed mid-line left is given back.
    if (record_.Claim(x_.Name())) {
        xtest_.SetRecord(&record_);
        characters_.keys().SetRecord(&record_);
    }
    xtest_.SetDisplay(x_.display());
    injector_ = &xtest_;
    kind_ = Kind::kXTest;
    message_[0] = 0;
    return nullptr;
}

bool KeyOutput::ReadXKeymap() {
    std::uint32_t group = 0;
    xkb_keymap* keymap = ReadServerKeymap(context_, x_.Name(), &group);
    if (keymap == nullptr) return false;
    group_ = group;
    const bool built = layout_.Build(keymap, group_);
    xkb_keymap_unref(keymap);
    if (built) {
        x_.ReadLayoutName(layoutName_, sizeof layoutName_);
        LayoutRead();
    }
    return built;
}

void KeyOutput::LayoutRead() {
    identity_ = layout_.Fingerprint();
    queries_.Reset();
}

void KeyOutput::FollowLayoutChanges() {
    // A keymap that cannot be read keeps the one we had.
    if (LayoutChanged(x_.display(), x_.XkbEventBase(), group_, characters_.keys())) ReadXKeymap();
}

const char16_t* KeyOutput::OpenUinput(EventSink* sink, const KeyboardNames& names) {
    Close();
    context_ = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    xkb_keymap* keymap = CompileKeymap(context_, names);
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
        settleUntilNs_ = linux_backend::MonotonicNs() + kUinputSettleNs;
    }
    uinput_.SetSink(sink);
    injector_ = &uinput_;
    kind_ = Kind::kUinput;
    message_[0] = 0;
    return nullptr;
}

void KeyOutput::Close() {
    characters_.Release();
    typist_.ReleaseAll();
    characters_.Restore(x_.display());
    Sync();
    record_.Clear();
    injector_ = nullptr;
    kind_ = Kind::kNone;
    xtest_.SetDisplay(nullptr);
    uinput_.SetSink(nullptr);
    device_.Close();
    settleUntilNs_ = 0;
    x_.Close();
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
    if (down && virtualKey == kVkCapital && kind_ == Kind::kXTest) record_.CapsLockPressed();
}

void KeyOutput::Sync() {
    x_.Sync();
}

void KeyOutput::SendKey(KeyCode code, bool down) {
    if (settleUntilNs_ != 0) {
        linux_backend::SleepUntil(settleUntilNs_);
        settleUntilNs_ = 0;
    }
    if (injector_ == nullptr) return;
    if (kind_ == Kind::kXTest) characters_.keys().EventSent();
    injector_->SendKey(code, down);
}

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

const char16_t* KeyOutput::WriteFailure() {
    const int error = uinput_.TakeError();
    if (error == 0) return nullptr;
    char text[kTextCapacity];
    std::snprintf(text, sizeof text,
                  "Keystrokes are being lost: writing to the uinput device failed (%s).",
                  std::strerror(-error));
    DecodeUtf8Terminated(text, message_, std::size(message_));
    return message_;
}

bool KeyOutput::CapsLockOn() {
    return x_.CapsLockOn();
}

unsigned long KeyOutput::FocusWindow() {
    return x_.FocusWindow();
}

bool KeyOutput::CharacterEvent(char32_t character, bool down) {
    if (kind_ != Kind::kXTest) return false;
    if (!down) {
        characters_.Release();
        return true;
    }
    FollowLayoutChanges();
    return characters_.Press(x_.display(), character);
}

void KeyOutput::PrepareCharacters(const char16_t* characters, std::size_t count) {
    if (kind_ != Kind::kXTest) return;
    FollowLayoutChanges();
    char32_t line[kLineCharacters];
    const std::size_t n = count < kLineCharacters ? count : kLineCharacters;
    for (std::size_t i = 0; i < n; ++i) line[i] = characters[i];
    characters_.keys().Prepare(x_.display(), line, static_cast<int>(n));
}

}  // namespace platform::linuxkeys
