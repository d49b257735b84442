// The reception thread: keeps the scanner's port open, reads its bytes one at
// a time, translates them through the keyboard table and types each line as
// key events, in the way SEND_MODE asks for, unless the focused window cannot
// receive them. Also the quit that ends the thread wherever it stands.
#include "serial/reception.h"

#include <atomic>
#include <thread>

#include "keymap/active_layout.h"
#include "keymap/key_table.h"
#include "platform/text.h"
#include "serial/scan_shaping.h"
#include "serial/serial_port.h"
#include "settings/general_settings.h"

using namespace platform;

namespace {

constexpr std::uint32_t kKeyBufferSize = 100;
constexpr std::uint32_t kRetryPauseMs = 500;
constexpr std::uint32_t kPressFlags = kKeyEventFSilent;
constexpr std::uint32_t kReleaseFlags = kKeyEventFSilent | kKeyEventFKeyUp;
constexpr std::uint8_t kLineEndHash = 0x23;
constexpr std::uint8_t kLineEndReturn = 0x0D;
constexpr std::uint8_t kTabByte = 0x09;

// Owned by the reception thread alone (one at a time; a new thread starts only
// once the previous one has ended).
std::uint8_t keyCodes[kKeyBufferSize];
std::uint8_t keyAltGr[kKeyBufferSize];
std::uint8_t keyShift[kKeyBufferSize];
// With the active keyboard layout: the byte a position types as a character
// (looked up when the line is typed); -1 for a keystroke of the arrays above,
// kChordPosition for a key a SCAN_ setting types (its modifiers in keyChord).
std::int16_t keyCharacter[kKeyBufferSize];
std::uint8_t keyChord[kKeyBufferSize];
constexpr std::int16_t kChordPosition = -2;
// The SCAN_ settings, parsed when the thread starts, and the scan under way.
ScanRules scanRules;
ScanState scanState;
std::uint32_t keyCount = 0;
// The characters a line types as themselves, handed to PrepareCharacters.
char16_t lineCharacters[kKeyBufferSize];
std::uint8_t receiveByte = 0;
std::uint32_t eventMask = 0;
std::uint32_t bytesRead = 0;
char16_t messageText[kTextCapacity];
char16_t unreachableProgram[kTextCapacity];
// How this thread sends its keystrokes (SEND_MODE where the platform has such
// ways), and by scan code, the layout whose codes name the keys of the line.
SendMode sendMode = SendMode::kKeys;
KeyboardLayout scanCodeLayout = 0;
// Which keys our own events left down, so that a quit can let go of them.
bool keyDown[256];
// The modifiers the last keystroke left held, and whether Caps Lock was
// switched off for the line being typed and must come back on.
bool shiftHeld = false;
bool altGrHeld = false;
bool capsLockToRestore = false;

// The program's words once connected; words of our own until then.
std::atomic<std::int32_t> ownRunning{1};
std::atomic<std::int32_t> ownLineWait{1};
void ReportNowhere(bool) {}
ReceptionLinks links = {&ownRunning, &ownLineWait, ReportNowhere, nullptr};

// A quit must reach the thread wherever it stands: every pause waits on this
// event instead of sleeping, and typing stops at the next event.
std::atomic<std::int32_t> quitRequested{0};
std::atomic<EventHandle> quitEvent{kNoEvent};

EventHandle QuitEvent() {
    EventHandle event = quitEvent.load();
    if (event != kNoEvent) return event;
    EventHandle fresh = CreateEventW(true, false, nullptr);
    if (quitEvent.compare_exchange_strong(event, fresh)) return fresh;
    CloseHandle(fresh);
    return event;
}

bool Quitting() {
    return quitRequested.load(std::memory_order_relaxed) != 0;
}

// Typing ends at the next key event once reception is stopped (the running
// flag cleared) or quit: the rest of a line must not land in whatever has the
// focus then, such as the dialog that Stop has just shown.
bool TypingStopped() {
    return Quitting() || links.running->load() == 0;
}

// 1 while the thread is between its last look at the flags and the end of a
// key event, so that WaitUntilTypingStopped knows no press can follow.
std::atomic<std::int32_t> sendingEvent{0};

// A pause that a quit cuts short.
void Pause(std::uint32_t milliseconds) {
    if (Quitting()) return;
    WaitForSingleObject(QuitEvent(), milliseconds);
}

void SendEvent(std::uint8_t key, bool release) {
    // The flag is raised before the flags are looked at (both sequentially
    // consistent): a Stop that then finds it down knows this event sees it.
    sendingEvent.store(1);
    if (TypingStopped()) {
        sendingEvent.store(0);
        return;
    }
    const std::uint32_t scanCode = sendMode == SendMode::kScanCodes
                                       ? MapVirtualKeyExW(key, kMapVkVkToVscEx, scanCodeLayout)
                                       : 0;
    if (scanCode != 0) {
        // The key is named by where it sits, not by what it means: a
        // virtual machine's console passes that on to its guest. Windows
        // ignores the virtual key beside the code; Wine types by it alone.
        KeyboardInput input;
        input.wVk = key;
        input.wScan = static_cast<std::uint16_t>(scanCode & 0xFF);
        input.dwFlags = kKeyEventFScanCode |
                        ((scanCode & 0xFF00) != 0 ? kKeyEventFExtendedKey : 0) |
                        (release ? kKeyEventFKeyUp : 0);
        SendInput(1, &input);
    } else {
        keybd_event(key, 0, release ? kReleaseFlags : kPressFlags, 0);
    }
    keyDown[key] = !release;
    // Lowering it only has to come after the event (release): a full fence
    // here, twice for every key event, was the path's largest cost.
    sendingEvent.store(0, std::memory_order_release);
    std::uint16_t delay = SerialSettings.strokeDelay;
    if (delay != 0) Pause(delay);
}

// One keystroke, as the modifiers need it: they are set before the key and
// not restored after it.
void SendKeystroke(std::uint8_t key, bool altGr, bool shift) {
    if (TypingStopped()) return;
    shiftHeld = shift;
    altGrHeld = altGr;
    SendEvent(kVkControl, !altGr);
    if (TypingStopped()) return;
    SendEvent(kVkLMenu, !altGr);
    if (TypingStopped()) return;
    SendEvent(kVkShift, !shift);
    if (TypingStopped()) return;
    SendEvent(key, false);
    if (TypingStopped()) return;
    SendEvent(key, true);
    if (shift || TypingStopped()) return;
    SendEvent(kVkShift, true);
}

void ReleaseHeldModifiers() {
    if (!TypingStopped() && shiftHeld) SendEvent(kVkShift, true);
    if (!TypingStopped() && altGrHeld) {
        SendEvent(kVkLMenu, true);
        if (!TypingStopped()) SendEvent(kVkControl, true);
    }
    shiftHeld = false;
    altGrHeld = false;
}

// A character no key types: sent as itself, with no modifier held that the
// application could take for a shortcut.
void SendCharacter(char16_t character) {
    ReleaseHeldModifiers();
    for (bool release : {false, true}) {
        // The same gate as a key event's: nothing is typed once Stop has seen it.
        sendingEvent.store(1);
        if (TypingStopped()) {
            sendingEvent.store(0);
            return;
        }
        KeyboardInput input;
        input.wScan = character;
        input.dwFlags = kKeyEventFUnicode | (release ? kKeyEventFKeyUp : 0);
        SendInput(1, &input);
        sendingEvent.store(0);
        std::uint16_t delay = SerialSettings.strokeDelay;
        if (delay != 0) Pause(delay);
    }
}

// A key a SCAN_ setting names: the chord's own modifiers only, held around the
// key and let go after it, so nothing the line typed before changes it.
void SendChord(std::uint8_t key, std::uint8_t modifiers) {
    ReleaseHeldModifiers();
    constexpr struct {
        std::uint8_t bit;
        std::uint8_t key;
    } kChordKeys[] = {
        {kScanCtrl, kVkControl}, {kScanAlt, kVkLMenu}, {kScanShift, kVkShift}, {kScanWin, kVkLWin}};
    for (const auto& modifier : kChordKeys)
        if ((modifiers & modifier.bit) != 0 && !TypingStopped()) SendEvent(modifier.key, false);
    if (!TypingStopped()) SendEvent(key, false);
    if (!TypingStopped()) SendEvent(key, true);
    for (int i = 3; i >= 0; --i)
        if ((modifiers & kChordKeys[i].bit) != 0 && !TypingStopped())
            SendEvent(kChordKeys[i].key, true);
}

void TypePlan(const KeystrokePlan& plan) {
    switch (plan.kind) {
        case PlanKind::kNothing:
            break;
        case PlanKind::kDeadKey:
            SendKeystroke(plan.dead.virtualKey, plan.dead.altGr != 0, plan.dead.shift != 0);
            [[fallthrough]];
        case PlanKind::kKey:
            SendKeystroke(plan.key.virtualKey, plan.key.altGr != 0, plan.key.shift != 0);
            break;
        case PlanKind::kCharacter:
            SendCharacter(plan.character);
            break;
    }
}

// Sent as characters, carriage return and tab stay keys: Enter and Tab are
// what a form expects of them.
void TypeAsCharacter(std::uint8_t byte) {
    if (byte == kLineEndReturn || byte == kTabByte) {
        SendKeystroke(byte == kLineEndReturn ? kVkReturn : kVkTab, false, false);
        return;
    }
    SendCharacter(Windows1252Character(byte));
}

// Caps Lock would turn the case of letters (and more, on some layouts), so
// it is off while a line is typed and back on afterwards.
void SwitchCapsLock() {
    SendEvent(kVkCapital, false);
    SendEvent(kVkCapital, true);
}

// Whether Caps Lock can change what the line types: characters sent as
// themselves, Enter and Tab it leaves alone.
bool CapsLockMatters() {
    if (sendMode != SendMode::kUnicode) return true;
    for (std::uint32_t i = 0; i < keyCount; ++i)
        if (keyCharacter[i] < 0 && keyCodes[i] != kVkReturn && keyCodes[i] != kVkTab) return true;
    return false;
}

// Windows drops keystrokes sent to a window above our integrity level, or
// sent while no window has the focus, without a word, so such a line is not
// sent at all, and the program says why.
bool ForegroundWindowReachable() {
    const KeystrokeReach reach = KeystrokesReachForegroundWindow(unreachableProgram, kTextCapacity);
    if (reach == KeystrokeReach::kReached) return true;
    if (links.reportUnreachableWindow != nullptr && !TypingStopped())
        links.reportUnreachableWindow(reach == KeystrokeReach::kNoFocus ? nullptr
                                                                         : unreachableProgram);
    return false;
}

void FlushKeyBuffer() {
    if (keyCount != 0 && ForegroundWindowReachable()) {
        // The layout of the window the line goes to, asked once per line
        // (by scan code, before Caps Lock is switched with the layout's code).
        scanCodeLayout = sendMode == SendMode::kScanCodes ? ActiveKeyboardLayout() : 0;
        if (CapsLockMatters() && (GetKeyState(kVkCapital) & 1) != 0 && !TypingStopped()) {
            capsLockToRestore = true;
            SwitchCapsLock();
        }
        const LayoutPlans* layout = nullptr;
        std::uint32_t characters = 0;
        for (std::uint32_t i = 0; i < keyCount; ++i) {
            if (keyCharacter[i] < 0) continue;
            if (sendMode == SendMode::kUnicode) {
                const char16_t character =
                    Windows1252Character(static_cast<std::uint8_t>(keyCharacter[i]));
                if (character != 0) lineCharacters[characters++] = character;
                continue;
            }
            if (layout == nullptr)
                layout =
                    &PlansForLayout(scanCodeLayout != 0 ? scanCodeLayout : ActiveKeyboardLayout());
            const KeystrokePlan& plan = layout->plans[keyCharacter[i]];
            if (plan.kind == PlanKind::kCharacter) lineCharacters[characters++] = plan.character;
        }
        if (characters != 0 && !TypingStopped()) PrepareCharacters(lineCharacters, characters);
        for (std::uint32_t i = 0; i < keyCount && !TypingStopped(); ++i) {
            if (keyCharacter[i] == kChordPosition) {
                SendChord(keyCodes[i], keyChord[i]);
                continue;
            }
            if (keyCharacter[i] < 0) {
                SendKeystroke(keyCodes[i], keyAltGr[i] != 0, keyShift[i] != 0);
            } else if (sendMode == SendMode::kUnicode) {
                TypeAsCharacter(static_cast<std::uint8_t>(keyCharacter[i]));
            } else {
                TypePlan(layout->plans[keyCharacter[i]]);
            }
        }
        // Nothing stays held once a line is typed: the user's own typing
        // must not come out shifted or as AltGr.
        ReleaseHeldModifiers();
        if (capsLockToRestore && !TypingStopped()) {
            SwitchCapsLock();
            capsLockToRestore = false;
        }
    }
    keyCount = 0;
    for (std::uint8_t& code : keyCodes) code = 0;
}

// Appends what `byte` types, through the active layout or the table.
void AppendByte(std::uint8_t byte) {
    if (IsActiveLayoutName(SerialSettings.keyTableName)) {
        // Carriage return and tab are keys on every layout; other control
        // bytes and the undefined ones type nothing.
        if (byte == kLineEndReturn || byte == kTabByte || Windows1252Character(byte) != 0) {
            keyCodes[keyCount] = 0;
            keyCharacter[keyCount] = byte;
            ++keyCount;
        }
    } else if (const KeyTableEntry& entry = KeyTable[byte]; entry.virtualKey != 0) {
        // As characters, a table says which bytes type something; what
        // they type is their own character.
        if (sendMode == SendMode::kUnicode && Windows1252Character(byte) != 0) {
            keyCodes[keyCount] = 0;
            keyCharacter[keyCount] = byte;
            ++keyCount;
        } else {
            keyCodes[keyCount] = static_cast<std::uint8_t>(entry.virtualKey & 0xFF);
            keyAltGr[keyCount] = static_cast<std::uint8_t>(entry.altGr & 0xFF);
            keyShift[keyCount] = static_cast<std::uint8_t>(entry.shift & 0xFF);
            keyCharacter[keyCount] = -1;
            ++keyCount;
        }
    }
}

// What the shaping hands on. A prefix or a replacement may give more keys
// than the buffer holds: it is typed whenever it is full, as a long line is.
void AppendShaped(void*, const ScanItem& item) {
    if (item.kind == ScanItemKind::kCharacter) {
        AppendByte(item.code);
    } else {
        keyCodes[keyCount] = item.code;
        keyChord[keyCount] = item.modifiers;
        keyCharacter[keyCount] = kChordPosition;
        ++keyCount;
    }
    if (keyCount == kKeyBufferSize) FlushKeyBuffer();
}

void HandleByte(std::uint8_t byte) {
    if (scanRules.inUse) {
        ShapeScanByte(scanRules, scanState, byte, AppendShaped, nullptr);
    } else {
        AppendByte(byte);
    }
    // The line ends look at the received byte, whatever it typed.
    if (byte == kLineEndHash || byte == kLineEndReturn || links.lineWait->load() == 0 ||
        keyCount == kKeyBufferSize) {
        FlushKeyBuffer();
    }
}

// Returns true when the loop ended because the wait failed while reception
// was still meant to run.
bool RunWaitLoop(PortHandle port) {
    for (;;) {
        if (links.running->load() == 0 || Quitting()) return false;
        if (!WaitCommEvent(port, &eventMask)) return links.running->load() != 0 && !Quitting();
        if ((eventMask & kEvRxChar) == 0) continue;
        for (;;) {
            bool ok = ReadFile(port, &receiveByte, 1, &bytesRead);
            if (!ok) {
                if (bytesRead == 1) continue;
                break;
            }
            if (bytesRead != 1) break;
            HandleByte(receiveByte);
        }
    }
}

// Lets go of every key our own events left down (only a quit leaves any),
// and gives Caps Lock back if a quit came in the middle of a line.
void ReleaseKeysStillDown() {
    if (capsLockToRestore) {
        keybd_event(kVkCapital, 0, kPressFlags, 0);
        keybd_event(kVkCapital, 0, kReleaseFlags, 0);
        keyDown[kVkCapital] = false;
        capsLockToRestore = false;
    }
    for (int key = 0; key < 256; ++key) {
        if (keyDown[key]) {
            keybd_event(static_cast<std::uint8_t>(key), 0, kReleaseFlags, 0);
            keyDown[key] = false;
        }
    }
}

void ShowOpenFailure(std::uint32_t code) {
    const char16_t head[] = u"Ouverture du port série impossible (";
    std::size_t n = 0;
    for (const char16_t* p = head; *p != 0; ++p) messageText[n++] = *p;
    FormatDecimal(messageText + n, kTextCapacity - n, static_cast<std::int32_t>(code));
    while (messageText[n] != 0) ++n;
    messageText[n++] = u')';
    messageText[n] = 0;
    MessageBoxW(kNoWindow, messageText, kErrorCaption, kMbOk);
}

}  // namespace

void ConnectReception(const ReceptionLinks& connected) {
    links = connected;
}

std::uint32_t ReceptionThreadProc(void*) {
    keyCount = 0;
    PrepareScanRules(SerialSettings, scanRules);
    ResetScanState(scanState);
    for (bool& down : keyDown) down = false;
    shiftHeld = false;
    altGrHeld = false;
    capsLockToRestore = false;
    sendMode = SendModesApply() ? static_cast<SendMode>(SerialSettings.sendMode) : SendMode::kKeys;
    // Under Wine a thread's key state follows the desktop's only from its
    // first question on: ask now, so that Caps Lock switched on while
    // reception runs is seen when a line is typed.
    GetKeyState(kVkCapital);
    QuitEvent();
    while (links.running->load() != 0 && !Quitting()) {
        if (!OpenSerialPort()) {
            std::uint32_t code = GetLastError();
            if (code == kErrorDevNotExist) {
                Pause(kRetryPauseMs);
                continue;
            }
            if (!Quitting()) ShowOpenFailure(code);
            links.running->store(0);
            break;
        }
        links.reportPortStatus(true);
        bool failed = RunWaitLoop(SerialPortHandle.load());
        links.reportPortStatus(false);
        CloseSerialPort();
        // A port that opens but fails at once must not make the thread spin.
        if (failed && links.running->load() != 0) Pause(kRetryPauseMs);
    }
    ReleaseKeysStillDown();
    return 0;
}

void QuitReception(ThreadHandle thread) {
    quitRequested.store(1);
    SetEvent(QuitEvent());
    links.running->store(0);
    CloseSerialPort();
    if (thread == kNoThread) return;
    // A box may appear just after a dismissal, so dismiss again until the
    // thread is gone; give up after about two seconds and let the process end.
    for (int attempt = 0; attempt < 20; ++attempt) {
        DismissMessageBoxes(thread);
        if (WaitForSingleObject(thread, 100) != kWaitTimeout) break;
    }
    CloseHandle(thread);
}

void WaitUntilTypingStopped() {
    // At most the length of one key event call.
    while (sendingEvent.load() != 0) std::this_thread::yield();
}

bool ReceptionThreadEnded(ThreadHandle thread) {
    return thread == kNoThread || WaitForSingleObject(thread, 0) != kWaitTimeout;
}

void AwaitReceptionThreadEnd(ThreadHandle thread) {
    links.running->store(0);
    CloseSerialPort();
    if (thread != kNoThread) {
        // The previous thread may be in the pause after its last key event,
        // or showing its open-failure box, which a new Start makes moot.
        for (;;) {
            DismissMessageBoxes(thread);
            if (WaitForSingleObject(thread, 100) != kWaitTimeout) break;
        }
        CloseHandle(thread);
    }
    if (quitRequested.load() != 0) {
        EventHandle old = quitEvent.exchange(kNoEvent);
        if (old != kNoEvent) CloseHandle(old);
        quitRequested.store(0);
    }
    QuitEvent();
}
