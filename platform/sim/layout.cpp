// Simulated keyboard layouts, as data: what each key types alone, with Shift,
// AltGr and both, which of those are dead keys and what they compose, and
// which keys Caps Lock shifts. The layout calls of the seam answer from them,
// and the focused application reads the recorded key events through them.
#include "platform/sim/layout.h"

#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>

#include "platform/text.h"

namespace platform {
namespace sim {
namespace {

constexpr int kLevels = 4;  // none, Shift, AltGr, Shift and AltGr

struct SimKey {
    std::uint8_t virtualKey;
    char16_t typed[kLevels];  // 0: nothing; for a dead key, its accent
    std::uint8_t deadLevels;  // bit n: level n is a dead key
    bool capsLock;            // Caps Lock shifts this key
};

struct SimLayout {
    const char* name;
    KeyboardLayout id;
    SimKey keys[64];
    int count;

    void Add(std::uint8_t key, char16_t none, char16_t shift, char16_t altGr = 0,
             char16_t shiftAltGr = 0, std::uint8_t dead = 0, bool caps = false) {
        keys[count++] = {key, {none, shift, altGr, shiftAltGr}, dead, caps};
    }
    void AddLetters() {
        for (char16_t c = u'A'; c <= u'Z'; ++c)
            Add(static_cast<std::uint8_t>(c), static_cast<char16_t>(c + 32), c, 0, 0, 0, true);
    }
    SimKey* Find(std::uint32_t key) {
        for (int i = 0; i < count; ++i)
            if (keys[i].virtualKey == key) return &keys[i];
        return nullptr;
    }
};

struct Composition {
    char16_t accent;
    const char16_t* bases;
    const char16_t* results;
};
const Composition kCompositions[] = {
    {u'^', u"aeiouAEIOU", u"âêîôûÂÊÎÔÛ"},
    {u'¨', u"aeiouyAEIOUY", u"äëïöüÿÄËÏÖÜŸ"},
    {u'~', u"aonAON", u"ãõñÃÕÑ"},
    {u'`', u"aeiouAEIOU", u"àèìòùÀÈÌÒÙ"},
    {u'´', u"aeiouyAEIOUY", u"áéíóúýÁÉÍÓÚÝ"},
};

char16_t Compose(char16_t accent, char16_t base) {
    if (base == u' ') return accent;
    for (const Composition& c : kCompositions) {
        if (c.accent != accent) continue;
        for (int i = 0; c.bases[i] != 0; ++i)
            if (c.bases[i] == base) return c.results[i];
    }
    return 0;
}

SimLayout layouts[4];

void DefineLayouts() {
    SimLayout& us = layouts[0];
    us = {"us", 0x04090409, {}, 0};
    const char16_t* usDigits = u")!@#$%^&*(";
    for (int d = 0; d < 10; ++d)
        us.Add(static_cast<std::uint8_t>('0' + d), static_cast<char16_t>(u'0' + d), usDigits[d]);
    us.AddLetters();
    us.Add(0xC0, u'`', u'~');
    us.Add(0xBD, u'-', u'_');
    us.Add(0xBB, u'=', u'+');
    us.Add(0xDB, u'[', u'{');
    us.Add(0xDD, u']', u'}');
    us.Add(0xDC, u'\\', u'|');
    us.Add(0xBA, u';', u':');
    us.Add(0xDE, u'\'', u'"');
    us.Add(0xBC, u',', u'<');
    us.Add(0xBE, u'.', u'>');
    us.Add(0xBF, u'/', u'?');
    us.Add(0x20, u' ', u' ');

    SimLayout& fr = layouts[1];
    fr = {"fr", 0x040C040C, {}, 0};
    fr.Add(0xDE, u'²', 0);
    const char16_t* frDigits = u"à&é\"'(-è_ç";
    const char16_t* frAltGr = u"@\0~#{[|`\\^";
    for (int d = 0; d < 10; ++d) {
        // AltGr of 2 and 7 are the dead tilde and grave.
        const std::uint8_t dead = (d == 2 || d == 7) ? 4 : 0;
        fr.Add(static_cast<std::uint8_t>('0' + d), frDigits[d], static_cast<char16_t>(u'0' + d),
               frAltGr[d], 0, dead, true);
    }
    fr.Add(0xDB, u')', u'°', u']');
    fr.Add(0xBB, u'=', u'+', u'}');
    fr.AddLetters();
    fr.Find('E')->typed[2] = u'€';
    fr.Add(0xDD, u'^', u'¨', 0, 0, 3);
    fr.Add(0xBA, u'$', u'£', u'¤');
    fr.Add(0xC0, u'ù', u'%');
    fr.Add(0xDC, u'*', u'µ');
    fr.Add(0xE2, u'<', u'>');
    fr.Add(0xBC, u',', u'?');
    fr.Add(0xBE, u';', u'.');
    fr.Add(0xBF, u':', u'/');
    fr.Add(0xDF, u'!', u'§');
    fr.Add(0x20, u' ', u' ');

    SimLayout& de = layouts[2];
    de = {"de", 0x04070407, {}, 0};
    de.Add(0xDC, u'^', u'°', 0, 0, 1);
    const char16_t* deShifted = u"=!\"§$%&/()";
    const char16_t* deAltGr = u"}\0²³\0\0\0{[]";
    for (int d = 0; d < 10; ++d)
        de.Add(static_cast<std::uint8_t>('0' + d), static_cast<char16_t>(u'0' + d), deShifted[d],
               deAltGr[d]);
    de.Add(0xDB, u'ß', u'?', u'\\');
    de.Add(0xDD, u'´', u'`', 0, 0, 3);
    de.AddLetters();
    de.Find('Q')->typed[2] = u'@';
    de.Find('E')->typed[2] = u'€';
    de.Find('M')->typed[2] = u'µ';
    de.Add(0xBA, u'ü', u'Ü', 0, 0, 0, true);
    de.Add(0xBB, u'+', u'*', u'~');
    de.Add(0xC0, u'ö', u'Ö', 0, 0, 0, true);
    de.Add(0xDE, u'ä', u'Ä', 0, 0, 0, true);
    de.Add(0xBF, u'#', u'\'');
    de.Add(0xE2, u'<', u'>', u'|');
    de.Add(0xBC, u',', u';');
    de.Add(0xBE, u'.', u':');
    de.Add(0xBD, u'-', u'_');
    de.Add(0x20, u' ', u' ');

    SimLayout& lean = layouts[3];
    lean = {"lean", 0x04130413, {}, 0};
    for (int d = 0; d < 10; ++d)
        lean.Add(static_cast<std::uint8_t>('0' + d), static_cast<char16_t>(u'0' + d), 0);
    lean.AddLetters();
    lean.Find('E')->typed[2] = u'é';
    lean.Find('E')->typed[3] = u'É';
    lean.Add(0x20, u' ', u' ');
}

SimLayout* FindLayout(KeyboardLayout id) {
    for (SimLayout& l : layouts)
        if (l.id == id) return &l;
    return nullptr;
}

std::atomic<SimLayout*> focusedLayout{nullptr};
std::atomic<bool> capsLock{false};
std::atomic<std::size_t> layoutQueries{0};
// As X answers: for the layout in use, whatever layout is named.
std::atomic<bool> answerInUse{false};
constexpr KeyboardLayout kInUseIds = 0x1000;  // identities of their own in that mode
std::atomic<std::size_t> switchAfterQueries{0};
std::atomic<SimLayout*> switchTo{nullptr};
// The program of a focused window above us, empty when there is none.
char16_t windowAbove[64];
std::atomic<bool> windowAboveFocused{false};
// No window has the focus (a secure desktop or the lock screen is showing).
std::atomic<bool> noWindowFocused{false};

// Scan codes: the keys every layout has at the same place, then the
// layout's own keys in the order it lists them.
struct FixedScanCode {
    std::uint8_t virtualKey;
    std::uint8_t scanCode;
};
constexpr FixedScanCode kFixedScanCodes[] = {{kVkTab, 0x0F},     {kVkReturn, 0x1C},
                                             {kVkControl, 0x1D}, {kVkShift, 0x2A},
                                             {kVkLMenu, 0x38},   {kVkCapital, 0x3A}};
constexpr std::uint32_t kFirstLayoutScanCode = 0x40;

SimLayout* Answering(KeyboardLayout id) {
    return answerInUse.load() ? focusedLayout.load() : FindLayout(id);
}

// What a key types through `layout`, with `pending` the accent a dead key
// left waiting: the character count as ToUnicodeEx gives it.
int Translate(SimLayout* layout, std::uint32_t key, bool shift, bool altGr, bool caps,
              char16_t& pending, char16_t* out) {
    SimKey* k = layout != nullptr ? layout->Find(key) : nullptr;
    if (k == nullptr) return 0;
    const int level = ((shift != (caps && k->capsLock && !altGr)) ? 1 : 0) + (altGr ? 2 : 0);
    const char16_t c = k->typed[level];
    if (c == 0) return 0;
    const bool dead = (k->deadLevels & (1 << level)) != 0;
    if (pending != 0) {
        const char16_t accent = pending;
        pending = 0;
        const char16_t composed = dead ? 0 : Compose(accent, c);
        if (composed != 0) {
            out[0] = composed;
            return 1;
        }
        out[0] = accent;
        out[1] = c;
        return 2;
    }
    out[0] = c;
    if (dead) {
        pending = c;
        return -1;
    }
    return 1;
}

// The focused application: keys it holds, its pending accent and its text.
std::unique_ptr<char16_t[]> text;
std::size_t textCapacity = 0;
std::atomic<std::size_t> textLength{0};
std::atomic<std::size_t> charactersAsThemselves{0};
bool appDown[256];
char16_t appPending = 0;
char16_t probePending = 0;

void Append(const char16_t* characters, int n) {
    std::size_t length = textLength.load(std::memory_order_relaxed);
    for (int i = 0; i < n; ++i)
        if (length < textCapacity) text[length++] = characters[i];
    textLength.store(length, std::memory_order_release);
}

}  // namespace

KeyboardLayout SimulatedLayout(const char* name) {
    if (layouts[0].name == nullptr) DefineLayouts();
    for (const SimLayout& l : layouts)
        if (std::strcmp(l.name, name) == 0) return l.id;
    return 0;
}

void SetKeyboardLayout(const char* name) {
    focusedLayout.store(FindLayout(SimulatedLayout(name)));
}

void SetCapsLock(bool on) {
    capsLock.store(on);
}

bool CapsLockOn() {
    return capsLock.load();
}

std::u16string TypedText() {
    return std::u16string(text.get(), textLength.load(std::memory_order_acquire));
}

std::size_t CharactersSentAsThemselves() {
    return charactersAsThemselves.load();
}

void AnswerForTheLayoutInUse(bool on) {
    answerInUse.store(on);
}

void SetForegroundWindowAbove(const char16_t* program) {
    StrCopy(windowAbove, std::size(windowAbove), program != nullptr ? program : u"");
    windowAboveFocused.store(program != nullptr);
}

void SetNoForegroundWindow(bool none) {
    noWindowFocused.store(none);
}

void SwitchLayoutAfterQueries(std::size_t queries, const char* name) {
    switchTo.store(FindLayout(SimulatedLayout(name)));
    switchAfterQueries.store(queries);
}

std::size_t LayoutQueryCount() {
    return layoutQueries.load();
}

namespace detail {

void ResetFocusedApplication(std::size_t capacity) {
    text = std::make_unique<char16_t[]>(capacity);
    textCapacity = capacity;
    textLength.store(0);
    charactersAsThemselves.store(0);
    layoutQueries.store(0);
    answerInUse.store(false);
    switchAfterQueries.store(0);
    for (bool& down : appDown) down = false;
    appPending = 0;
    probePending = 0;
    capsLock.store(false);
    SetKeyboardLayout("us");
    SetForegroundWindowAbove(nullptr);
    SetNoForegroundWindow(false);
}

std::uint8_t KeyOfScanCode(std::uint16_t scanCode) {
    for (const FixedScanCode& fixed : kFixedScanCodes)
        if (fixed.scanCode == scanCode) return fixed.virtualKey;
    SimLayout* layout = focusedLayout.load();
    const std::uint32_t index = scanCode - kFirstLayoutScanCode;
    if (layout == nullptr || scanCode < kFirstLayoutScanCode ||
        index >= static_cast<std::uint32_t>(layout->count))
        return 0;
    return layout->keys[index].virtualKey;
}

bool FocusedApplicationReceives() {
    return !windowAboveFocused.load() && !noWindowFocused.load();
}

void ApplyKeyEvent(std::uint8_t virtualKey, bool release) {
    if (release) {
        appDown[virtualKey] = false;
        return;
    }
    appDown[virtualKey] = true;
    if (virtualKey == kVkCapital) {
        capsLock.store(!capsLock.load());
        return;
    }
    if (virtualKey == kVkReturn || virtualKey == kVkTab) {
        const char16_t c = virtualKey == kVkReturn ? u'\r' : u'\t';
        Append(&c, 1);
        return;
    }
    const bool shift = appDown[kVkShift];
    const bool altGr = appDown[kVkControl] && (appDown[kVkLMenu] || appDown[kVkMenu]);
    char16_t out[2];
    const int n =
        Translate(focusedLayout.load(), virtualKey, shift, altGr, capsLock.load(), appPending, out);
    if (n > 0) Append(out, n);
}

void ApplyCharacter(char16_t character) {
    Append(&character, 1);
    charactersAsThemselves.fetch_add(1);
}

}  // namespace detail
}  // namespace sim

// The focused window belongs to one simulated application thread.
constexpr WindowHandle kFocusedWindow{0x5157};
constexpr std::uint32_t kFocusedThread = 4242;

WindowHandle GetForegroundWindow() {
    return kFocusedWindow;
}

std::uint32_t GetWindowThreadProcessId(WindowHandle window, std::uint32_t* processId) {
    if (processId != nullptr) *processId = window == kFocusedWindow ? 1 : 0;
    return window == kFocusedWindow ? kFocusedThread : 0;
}

KeyboardLayout GetKeyboardLayout(std::uint32_t) {
    sim::SimLayout* layout = sim::focusedLayout.load();
    if (layout == nullptr) return 0;
    return layout->id + (sim::answerInUse.load() ? sim::kInUseIds : 0);
}

// As Wine does under a UTF-8 locale: nothing for characters beyond ASCII, so
// that the search of the layout's keys is exercised too. Dead keys are named
// like any other, as on Windows.
std::int16_t VkKeyScanExW(char16_t character, KeyboardLayout layout) {
    sim::SimLayout* l = sim::Answering(layout);
    if (l == nullptr || character >= 0x80) return -1;
    for (int level = 0; level < sim::kLevels; ++level) {
        for (int i = 0; i < l->count; ++i) {
            if (l->keys[i].typed[level] != character) continue;
            std::uint16_t bits = l->keys[i].virtualKey;
            if ((level & 1) != 0) bits |= kVkScanShift;
            if ((level & 2) != 0) bits |= kVkScanControl | kVkScanAlt;
            return static_cast<std::int16_t>(bits);
        }
    }
    return -1;
}

std::int32_t ToUnicodeEx(std::uint32_t virtualKey, std::uint32_t, const std::uint8_t* keyState,
                         char16_t* buffer, std::int32_t bufferSize, std::uint32_t,
                         KeyboardLayout layout) {
    sim::layoutQueries.fetch_add(1);
    if (sim::switchAfterQueries.load() != 0 && sim::switchAfterQueries.fetch_sub(1) == 1)
        sim::focusedLayout.store(sim::switchTo.load());
    const bool shift = (keyState[kVkShift] & 0x80) != 0;
    const bool altGr = (keyState[kVkControl] & 0x80) != 0 && (keyState[kVkMenu] & 0x80) != 0;
    const bool caps = (keyState[kVkCapital] & 0x01) != 0;
    char16_t out[2];
    const int n = sim::Translate(sim::Answering(layout), virtualKey, shift, altGr, caps,
                                 sim::probePending, out);
    for (int i = 0; i < (n < 0 ? 1 : n) && i < bufferSize; ++i) buffer[i] = out[i];
    return n;
}

std::uint32_t MapVirtualKeyExW(std::uint32_t code, std::uint32_t mapType, KeyboardLayout layout) {
    sim::SimLayout* l = sim::Answering(layout);
    if ((mapType != kMapVkVkToVsc && mapType != kMapVkVkToVscEx) || l == nullptr) return 0;
    for (const sim::FixedScanCode& fixed : sim::kFixedScanCodes)
        if (fixed.virtualKey == code) return fixed.scanCode;
    for (int i = 0; i < l->count; ++i)
        if (l->keys[i].virtualKey == code)
            return sim::kFirstLayoutScanCode + static_cast<std::uint32_t>(i);
    return 0;
}

KeystrokeReach KeystrokesReachForegroundWindow(char16_t* program, std::size_t capacity) {
    if (capacity != 0) program[0] = 0;
    if (sim::noWindowFocused.load()) return KeystrokeReach::kNoFocus;
    if (!sim::windowAboveFocused.load()) return KeystrokeReach::kReached;
    StrCopy(program, capacity, sim::windowAbove);
    return KeystrokeReach::kWindowAbove;
}

bool SendModesApply() {
    return true;
}

std::int16_t GetKeyState(std::int32_t virtualKey) {
    if (virtualKey == kVkCapital) return sim::capsLock.load() ? 1 : 0;
    return 0;
}

}  // namespace platform
