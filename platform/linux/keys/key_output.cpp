// Choosing the keystroke output for the session and keeping the layout it
// types on in step with the X server's or the compositor's.
#include "platform/linux/keys/key_output_private.h"

#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstdlib>
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

// What failed in French, like every box of the program; the system's own
// reason (in English) between them.
constexpr const char* kCannotType = "Aucune lecture ne peut être tapée : ";
constexpr const char* kKeystrokesLost = "Des touches sont perdues : ";
constexpr const char* kKeystrokesLostAdvice =
    "\nVérifiez les lectures déjà tapées, puis quittez QuorvelCE (clic droit sur son icône) "
    "et relancez-le.";
constexpr const char* kCannotTypeAdvice =
    "\nLancez QuorvelCE dans une session graphique (X11 ou Wayland), ou donnez-lui "
    "l'accès à /dev/uinput, puis relancez-le.";
constexpr const char* kReconnectAdvice =
    "\nQuorvelCE essaie de nouveau à chaque lecture : relancez le bureau si besoin.";

}  // namespace

const char16_t* KeyOutput::Fail(const char* problem, const char* otherProblem) {
    Close();
    char text[3 * kReportCapacity];  // UTF-8
    if (otherProblem == nullptr) {
        std::snprintf(text, sizeof text, "%s%s.%s", kCannotType, problem, kCannotTypeAdvice);
    } else {
        std::snprintf(text, sizeof text, "%s%s, and %s.%s", kCannotType, problem, otherProblem,
                      kCannotTypeAdvice);
    }
    DecodeUtf8Terminated(text, message_, std::size(message_));
    return message_;
}

const char16_t* KeyOutput::Open() {
    const Session session = DetectSession();
    const char* xProblem = WhyNoXTest(session);
    const char* compositor = nullptr;
    if (session == Session::kX11) {
        if (OpenX(nullptr) == nullptr) return nullptr;
        xProblem = xProblem_;
    } else if (session == Session::kWayland) {
        compositor = std::getenv("WAYLAND_DISPLAY");
        // libwayland's own default, for a session that names none.
        if (compositor == nullptr || compositor[0] == 0) compositor = "wayland-0";
        if (OpenVirtualKeyboard(compositor) == nullptr) return nullptr;
        xProblem = waylandProblem_;
    }
    if (OpenUinput(nullptr, ReadKeyboardNames(), compositor) == nullptr) return nullptr;
    return Fail(xProblem, UinputProblem(uinputError_));
}

const char16_t* KeyOutput::FailWayland(const char* problem) {
    waylandProblem_ = problem;
    return Fail(problem, nullptr);
}

const char16_t* KeyOutput::OpenVirtualKeyboard(const char* displayName) {
    Close();
    std::snprintf(waylandName_, sizeof waylandName_, "%s",
                  displayName != nullptr ? displayName : "");
    context_ = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (context_ == nullptr) return FailWayland("xkbcommon cannot be used");
    if (const char* problem = ConnectVirtualKeyboard(false); problem != nullptr)
        return FailWayland(problem);
    kind_ = Kind::kVirtualKeyboard;
    message_[0] = 0;
    return nullptr;
}

// Null, or what is missing. Made `again`, a compositor that sends no keymap
// leaves the layout read before.
const char* KeyOutput::ConnectVirtualKeyboard(bool again) {
    const char* name = waylandName_[0] != 0 ? waylandName_ : nullptr;
    if (const char* problem = wayland_.Open(name, context_); problem != nullptr) return problem;
    if (!wayland_.OffersVirtualKeyboard())
        return "the Wayland compositor offers no virtual keyboard";
    if (!wayland_.CreateVirtualKeyboard())
        return "the Wayland compositor refused a virtual keyboard";
    // The tables' keys are read on the user's layout; without one sent, on
    // the system's.
    if (!ReadCompositorKeymap() && !again) ReadSystemKeymap(ReadKeyboardNames());
    // A keymap from the start: the protocol takes no key before one.
    own_.Clear();
    BindOwn(XKB_KEY_Return);
    if (own_.Changed()) return "our keymap cannot be sent to the compositor";
    return nullptr;
}

// At a line's start, so that a line goes whole to one compositor: the keys
// of a line cut short by the loss are not typed into the next one.
void KeyOutput::ReconnectIfLost() {
    if (kind_ != Kind::kVirtualKeyboard) return;
    // A compositor that ended between lines is noticed by reading.
    wayland_.Poll();
    if (wayland_.IsOpen() && wayland_.Error() == nullptr) return;
    // The loss is said even when it is first noticed here.
    if (wayland_.IsOpen() && !waylandLostShown_) lostProblem_ = wayland_.Error();
    // What our keyboard held went with the old connection.
    ReleaseOwnKeys();
    wayland_.Close();
    if (const char* problem = ConnectVirtualKeyboard(true); problem != nullptr) {
        wayland_.Close();
        reconnectProblem_ = problem;
        return;
    }
    reconnectProblem_ = nullptr;
    reconnectProblemShown_ = false;
    // A loss not yet said still is; one said is said again the next time.
    if (lostProblem_ == nullptr) waylandLostShown_ = false;
}

bool KeyOutput::ReadCompositorKeymap() {
    xkb_keymap* keymap = wayland_.Keymap();
    waylandSerial_ = wayland_.KeymapSerial();
    if (keymap == nullptr) return false;
    // The group the compositor reports; the first where it reports none.
    std::uint32_t group = wayland_.GroupReported() ? wayland_.Group() : 0;
    if (group >= xkb_keymap_num_layouts(keymap)) group = 0;
    if (!layout_.Build(keymap, group)) return false;
    const char* name = xkb_keymap_layout_get_name(keymap, group);
    std::snprintf(layoutName_, sizeof layoutName_, "%s", name != nullptr ? name : "");
    LayoutRead();
    return true;
}

void KeyOutput::ReadSystemKeymap(const KeyboardNames& names) {
    xkb_keymap* keymap = CompileKeymap(context_, names);
    layout_.Build(keymap, 0);
    if (keymap != nullptr) xkb_keymap_unref(keymap);
    std::snprintf(layoutName_, sizeof layoutName_, names.variant[0] != 0 ? "%s(%s)" : "%s",
                  names.layout, names.variant);
    LayoutRead();
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
    if (kind_ == Kind::kXTest) {
        if (LayoutChanged(x_.display(), x_.XkbEventBase(), group_, characters_.keys()))
            ReadXKeymap();
        return;
    }
    wayland_.Poll();
    if (wayland_.IsOpen() && wayland_.KeymapSerial() != waylandSerial_) ReadCompositorKeymap();
}

const char16_t* KeyOutput::OpenUinput(EventSink* sink, const KeyboardNames& names,
                                      const char* waylandDisplay) {
    Close();
    context_ = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    // The compositor's layout when it sends one: the system's names are
    // only a guess at what the user chose.
    if (waylandDisplay == nullptr || wayland_.Open(waylandDisplay, context_) != nullptr ||
        !ReadCompositorKeymap())
        ReadSystemKeymap(names);
    deadKeys_.Load(context_);

    if (sink == nullptr) {
        uinputError_ = device_.Open();
        if (uinputError_ != 0) return Fail(UinputProblem(uinputError_), nullptr);
        sink = &device_;
        settleUntilNs_ = linux_backend::MonotonicNs() + kUinputSettleNs;
    }
    uinput_.SetSink(sink);
    capsLed_.SetFd(sink->LedFd());
    capsAsked_ = 0;
    capsUnknownShown_ = false;
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
    capsLed_.SetFd(-1);
    device_.Close();
    settleUntilNs_ = 0;
    x_.Close();
    ReleaseOwnKeys();
    wayland_.Sync();
    wayland_.Close();
    own_.Clear();
    waylandName_[0] = 0;
    waylandLostShown_ = false;
    lostProblem_ = nullptr;
    reconnectProblem_ = nullptr;
    reconnectProblemShown_ = false;
    uinputFailureShown_ = false;
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
    if (kind_ == Kind::kVirtualKeyboard) {
        VirtualKeyEvent(virtualKey, down);
        return;
    }
    if (injector_ == nullptr) return;
    if (down && kind_ != Kind::kNone) FollowLayoutChanges();
    typist_.KeyEvent(virtualKey, down);
    if (down && virtualKey == kVkCapital && kind_ == Kind::kXTest) record_.CapsLockPressed();
}

void KeyOutput::Sync() {
    x_.Sync();
    wayland_.Sync();
}

// The modifiers the program holds choose the level of the user's layout a
// key is read at; what that key types there is then typed on our own
// keymap, with no modifier, so the tables' keys arrive as on the user's
// keyboard and no modifier the application could take for a shortcut goes
// with them.
void KeyOutput::VirtualKeyEvent(std::uint8_t virtualKey, bool down) {
    switch (virtualKey) {
        case kVkShift:
        case kVkLShift:
        case kVkRShift:
            shiftHeld_ = down;
            return;
        case kVkControl:
        case kVkLControl:
        case kVkRControl:
            controlHeld_ = down;
            return;
        case kVkMenu:
        case kVkLMenu:
        case kVkRMenu:
            altHeld_ = down;
            return;
        case kVkCapital:
            // Our keyboard's Caps Lock is always off, the user's never ours.
            return;
        default:
            break;
    }
    if (!down) {
        PressOwn(ownPressed_[virtualKey], false);
        ownPressed_[virtualKey] = kNoKey;
        return;
    }
    FollowLayoutChanges();
    const int level = (shiftHeld_ ? kLevelShift : 0) | (controlHeld_ && altHeld_ ? kLevelAltGr : 0);
    const KeyCode code = layout_.CodeFor(virtualKey, level);
    std::uint32_t keysym = code != kNoKey ? layout_.KeysymAt(code, level) : 0;
    if (keysym == 0 && code != kNoKey) keysym = layout_.KeysymAt(code, 0);
    // The line's end and Tab, on a layout that could not be read.
    if (keysym == 0 && virtualKey == kVkReturn) keysym = XKB_KEY_Return;
    if (keysym == 0 && virtualKey == kVkTab) keysym = XKB_KEY_Tab;
    if (keysym == 0) return;
    PressOwn(ownPressed_[virtualKey], false);
    ownPressed_[virtualKey] = BindOwn(keysym);
    PressOwn(ownPressed_[virtualKey], true);
}

KeyCode KeyOutput::BindOwn(std::uint32_t keysym) {
    KeyCode code = own_.Bind(keysym);
    // A keyboard table's keys come with no line announced: once every code
    // is taken, the keys typed so far (all released) give theirs up.
    if (code == kNoKey && keysym != 0) {
        own_.BeginLine();
        code = own_.Bind(keysym);
    }
    if (own_.Changed()) {
        const std::size_t size = own_.Write(ownText_, sizeof ownText_);
        if (size != 0 && wayland_.UploadKeymap(ownText_, size)) own_.Sent();
    }
    // A code whose keysym has not reached the compositor would type what
    // it had there before; the upload is tried again at the next key.
    return own_.Changed() ? kNoKey : code;
}

void KeyOutput::PressOwn(KeyCode code, bool down) {
    if (code == kNoKey) return;
    if (settleUntilNs_ != 0) {
        linux_backend::SleepUntil(settleUntilNs_);
        settleUntilNs_ = 0;
    }
    wayland_.Key(static_cast<std::uint32_t>(code - kEvdevOffset), down);
}

void KeyOutput::ReleaseOwnKeys() {
    for (KeyCode& code : ownPressed_) {
        PressOwn(code, false);
        code = kNoKey;
    }
    PressOwn(ownCharacter_, false);
    ownCharacter_ = kNoKey;
    shiftHeld_ = controlHeld_ = altHeld_ = false;
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
    if (kind_ != Kind::kNone) FollowLayoutChanges();
    return CurrentIdentity();
}

// On the virtual keyboard no key of the user's layout types a character:
// each goes as itself, on our own keymap.
std::int16_t KeyOutput::KeyScan(char16_t character) const {
    if (kind_ == Kind::kVirtualKeyboard) return -1;
    return LayoutQueries::KeyScan(layout_, character);
}

std::uint32_t KeyOutput::ScanCode(std::uint8_t virtualKey) const {
    if (kind_ == Kind::kVirtualKeyboard) return 0;
    return LayoutQueries::ScanCode(layout_, virtualKey);
}

int KeyOutput::ToUnicode(std::uint8_t virtualKey, const std::uint8_t* keyState, char16_t* buffer,
                         int bufferSize) {
    if (kind_ == Kind::kVirtualKeyboard) return 0;
    return queries_.ToUnicode(layout_, deadKeys_, virtualKey, keyState, buffer, bufferSize);
}

const char16_t* KeyOutput::WriteFailure(bool* cannotType) {
    if (cannotType != nullptr) *cannotType = false;
    if (kind_ == Kind::kVirtualKeyboard) {
        char text[3 * kReportCapacity];  // UTF-8
        const char* lost = lostProblem_ != nullptr ? lostProblem_ : wayland_.Error();
        if (lost == nullptr && wayland_.IsOpen() && own_.Changed())
            lost = "our keymap cannot be sent to the compositor";
        if (lost != nullptr && !waylandLostShown_) {
            waylandLostShown_ = true;
            lostProblem_ = nullptr;
            std::snprintf(text, sizeof text, "%s%s.%s", kKeystrokesLost, lost,
                          kKeystrokesLostAdvice);
        } else if (reconnectProblem_ != nullptr && !reconnectProblemShown_) {
            reconnectProblemShown_ = true;
            if (cannotType != nullptr) *cannotType = true;
            std::snprintf(text, sizeof text, "%s%s.%s", kCannotType, reconnectProblem_,
                          kReconnectAdvice);
        } else {
            return nullptr;
        }
        DecodeUtf8Terminated(text, message_, std::size(message_));
        return message_;
    }
    const int error = uinput_.TakeError();
    // Said once: a device that fails once tends to go on failing.
    if (error == 0 || uinputFailureShown_) return nullptr;
    uinputFailureShown_ = true;
    char text[3 * kReportCapacity];  // UTF-8
    std::snprintf(text, sizeof text, "%sl'écriture sur /dev/uinput a échoué (%s).%s",
                  kKeystrokesLost, std::strerror(-error), kKeystrokesLostAdvice);
    DecodeUtf8Terminated(text, message_, std::size(message_));
    return message_;
}

bool KeyOutput::CapsLockOn() {
    if (kind_ != Kind::kUinput) return x_.CapsLockOn();
    capsLed_.Read();
    ++capsAsked_;
    return capsLed_.On();
}

const char16_t* KeyOutput::CapsLockUnknown() {
    if (kind_ != Kind::kUinput || capsAsked_ < 2 || capsLed_.Known() || capsUnknownShown_)
        return nullptr;
    capsUnknownShown_ = true;
    DecodeUtf8Terminated(
        "Le bureau ne dit pas au clavier de QuorvelCE si le verrouillage des majuscules est "
        "actif : une lecture tapée pendant qu'il l'est sort avec la casse de ses lettres "
        "inversée.\nLaissez le verrouillage des majuscules désactivé pendant les lectures.",
        message_, std::size(message_));
    return message_;
}

unsigned long KeyOutput::FocusWindow() {
    return x_.FocusWindow();
}

bool KeyOutput::CharacterEvent(char32_t character, bool down) {
    if (kind_ == Kind::kVirtualKeyboard) {
        PressOwn(ownCharacter_, false);
        ownCharacter_ = kNoKey;
        if (!down) return true;
        const std::uint32_t keysym = KeysymOf(character);
        if (keysym == 0) return false;
        ownCharacter_ = BindOwn(keysym);
        PressOwn(ownCharacter_, true);
        // A keymap that did not reach the compositor, or a connection lost,
        // loses the key: WriteFailure says so, not that the layout lacks it.
        return ownCharacter_ != kNoKey || own_.Changed() || !wayland_.IsOpen() ||
               wayland_.Error() != nullptr;
    }
    if (kind_ != Kind::kXTest) return false;
    if (!down) {
        characters_.Release();
        return true;
    }
    FollowLayoutChanges();
    return characters_.Press(x_.display(), character);
}

void KeyOutput::PrepareCharacters(const char16_t* characters, std::size_t count) {
    if (kind_ == Kind::kVirtualKeyboard) {
        ReconnectIfLost();
        // One upload for the whole line, before its first key.
        own_.BeginLine();
        own_.Bind(XKB_KEY_Return);
        for (std::size_t i = 0; i < count; ++i) own_.Bind(KeysymOf(characters[i]));
        if (own_.Changed()) BindOwn(XKB_KEY_Return);
        return;
    }
    if (kind_ != Kind::kXTest) return;
    FollowLayoutChanges();
    char32_t line[kLineCharacters];
    const std::size_t n = count < kLineCharacters ? count : kLineCharacters;
    for (std::size_t i = 0; i < n; ++i) line[i] = characters[i];
    characters_.keys().Prepare(x_.display(), line, static_cast<int>(n));
}

}  // namespace platform::linuxkeys
