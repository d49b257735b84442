// Working out how each Windows-1252 character is typed on a keyboard layout,
// through the seam's layout calls only, and keeping the result per layout.
#include "keymap/active_layout.h"

#include "keymap/cp1252.h"

using namespace platform;

namespace {

// The byte whose character `c` is, or -1; control characters have no key.
int ByteOf(char16_t c) {
    if (c < 0x20 || c == 0x7F) return -1;
    return Cp1252FromUnicode(c);
}

// The keys that can type characters, main block first: the numeric keypad is
// left out, since what it types depends on Num Lock.
constexpr std::uint8_t kCandidateKeys[] = {
    0x20, '0',  '1',  '2',  '3',  '4',  '5',  '6',  '7',  '8',  '9',  'A',  'B',
    'C',  'D',  'E',  'F',  'G',  'H',  'I',  'J',  'K',  'L',  'M',  'N',  'O',
    'P',  'Q',  'R',  'S',  'T',  'U',  'V',  'W',  'X',  'Y',  'Z',  0xBA, 0xBB,
    0xBC, 0xBD, 0xBE, 0xBF, 0xC0, 0xC1, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF, 0xE1, 0xE2};
constexpr int kLevels = 4;  // none, Shift, AltGr, Shift and AltGr: the order tried
constexpr int kMaxDeadKeys = 24;
constexpr int kMaxFollowers = static_cast<int>(sizeof kCandidateKeys) * kLevels;
constexpr int kKeptLayouts = 4;

LayoutPlans kept[kKeptLayouts];
bool keptValid[kKeptLayouts];
int nextSlot = 0;

KeyStroke StrokeAt(std::uint8_t key, int level) {
    return {key, static_cast<std::uint8_t>(level & 1), static_cast<std::uint8_t>(level >> 1)};
}

// Asks the layout through a key state that holds the stroke's modifiers and
// nothing else (Caps Lock off: lines are typed with it off).
class LayoutProbe {
  public:
    explicit LayoutProbe(KeyboardLayout layout) : layout_(layout) {}

    // The characters the stroke types; -1 for a dead key, whose waiting
    // accent is cleared again unless `keepDead`.
    int Type(KeyStroke stroke, char16_t* out, bool keepDead = false) {
        std::uint8_t state[256] = {};
        if (stroke.shift != 0) state[kVkShift] = 0x80;
        if (stroke.altGr != 0) {
            state[kVkControl] = 0x80;
            state[kVkMenu] = 0x80;
            state[kVkLMenu] = 0x80;
        }
        const std::uint32_t scan = MapVirtualKeyExW(stroke.virtualKey, kMapVkVkToVsc, layout_);
        int n = ToUnicodeEx(stroke.virtualKey, scan, state, out, 4, 0, layout_);
        if (n < 0 && !keepDead) {
            // The same dead key again gives up the waiting accent.
            char16_t scratch[4];
            for (int i = 0; i < 2; ++i)
                if (ToUnicodeEx(stroke.virtualKey, scan, state, scratch, 4, 0, layout_) >= 0) break;
        }
        return n;
    }

    bool HasKey(std::uint8_t key) { return MapVirtualKeyExW(key, kMapVkVkToVsc, layout_) != 0; }

  private:
    KeyboardLayout layout_;
};

// Windows' own answer for a character, if the layout confirms that the key
// types it: VkKeyScanExW may name a dead key, or a near character.
bool ScannedKey(LayoutProbe& probe, KeyboardLayout layout, char16_t c, KeyStroke& stroke) {
    const std::int16_t scanned = VkKeyScanExW(c, layout);
    if (scanned == -1) return false;
    const auto bits = static_cast<std::uint16_t>(scanned);
    const std::uint16_t modifiers = bits & 0xFF00;
    const std::uint16_t ctrlAlt = kVkScanControl | kVkScanAlt;
    if ((modifiers & ctrlAlt) != 0 && (modifiers & ctrlAlt) != ctrlAlt) return false;
    if ((modifiers & ~(kVkScanShift | ctrlAlt)) != 0) return false;
    const int level =
        ((modifiers & kVkScanShift) != 0 ? 1 : 0) + ((modifiers & ctrlAlt) != 0 ? 2 : 0);
    stroke = StrokeAt(static_cast<std::uint8_t>(bits & 0xFF), level);
    char16_t out[4];
    return probe.Type(stroke, out) == 1 && out[0] == c;
}

void BuildPlans(KeyboardLayout layout, LayoutPlans& result) {
    result.layout = layout;
    LayoutProbe probe(layout);
    bool planned[256] = {};
    auto plan = [&](int byte, PlanKind kind, KeyStroke dead, KeyStroke key) {
        result.plans[byte] = {kind, dead, key,
                              Windows1252Character(static_cast<std::uint8_t>(byte))};
        planned[byte] = true;
    };
    for (int byte = 0; byte < 256; ++byte) {
        result.plans[byte] = {PlanKind::kNothing, {}, {}, 0};
        if (Windows1252Character(static_cast<std::uint8_t>(byte)) == 0) planned[byte] = true;
    }
    plan(0x0D, PlanKind::kKey, {}, {kVkReturn, 0, 0});
    plan(0x09, PlanKind::kKey, {}, {kVkTab, 0, 0});
    result.plans[0x0D].character = u'\r';
    result.plans[0x09].character = u'\t';

    // One key: the one Windows names, when it really types the character;
    // otherwise the first key found on the layout, fewest modifiers first.
    for (int byte = 0x20; byte < 256; ++byte) {
        KeyStroke stroke;
        if (!planned[byte] &&
            ScannedKey(probe, layout, Windows1252Character(static_cast<std::uint8_t>(byte)),
                       stroke))
            plan(byte, PlanKind::kKey, {}, stroke);
    }
    KeyStroke deadKeys[kMaxDeadKeys];
    int deadCount = 0;
    KeyStroke followers[kMaxFollowers];
    int followerCount = 0;
    for (int level = 0; level < kLevels; ++level) {
        for (std::uint8_t key : kCandidateKeys) {
            if (!probe.HasKey(key)) continue;
            const KeyStroke stroke = StrokeAt(key, level);
            char16_t out[4];
            const int n = probe.Type(stroke, out);
            if (n < 0) {
                if (deadCount < kMaxDeadKeys) deadKeys[deadCount++] = stroke;
                continue;
            }
            if (n != 1) continue;
            followers[followerCount++] = stroke;
            const int byte = ByteOf(out[0]);
            if (byte >= 0 && !planned[byte]) plan(byte, PlanKind::kKey, {}, stroke);
        }
    }

    // A dead key and then a key, where the layout composes the two.
    for (int d = 0; d < deadCount; ++d) {
        for (int f = 0; f < followerCount; ++f) {
            char16_t out[4];
            if (probe.Type(deadKeys[d], out, true) >= 0) break;  // not dead after all
            const int n = probe.Type(followers[f], out);
            if (n != 1) continue;
            const int byte = ByteOf(out[0]);
            if (byte >= 0 && !planned[byte])
                plan(byte, PlanKind::kDeadKey, deadKeys[d], followers[f]);
        }
    }

    for (int byte = 0; byte < 256; ++byte)
        if (!planned[byte]) plan(byte, PlanKind::kCharacter, {}, {});
}

}  // namespace

bool IsActiveLayoutName(const char16_t* name) {
    const char16_t* expected = kActiveLayoutName;
    while (*name != 0 && *name == *expected) {
        ++name;
        ++expected;
    }
    return *name == 0 && *expected == 0;
}

char16_t Windows1252Character(std::uint8_t byte) {
    if (byte < 0x20 || byte == 0x7F) return 0;
    return Cp1252ToUnicode(byte);
}

KeyboardLayout ActiveKeyboardLayout() {
    const WindowHandle window = GetForegroundWindow();
    const KeyboardLayout layout =
        GetKeyboardLayout(window == kNoWindow ? 0 : GetWindowThreadProcessId(window, nullptr));
    // Some windows' threads name no layout (a console's, for one): then the
    // layout this thread was given is the best guess.
    return layout != 0 ? layout : GetKeyboardLayout(0);
}

const LayoutPlans& PlansForLayout(KeyboardLayout layout) {
    // Where the layout calls answer for the layout in use rather than the one
    // they name (X), a change landing while the plans of the layout in use
    // are worked out would file plans of two layouts under the first one's
    // identity. So its identity is taken before and after the build, and
    // when it moved, the layout now in use is worked out instead; plans of a
    // layout that never held still are handed out for this once, not kept.
    // A layout asked for while another is in use is built as asked.
    constexpr int kBuilds = 3;
    for (int build = 1;; ++build) {
        for (int i = 0; i < kKeptLayouts; ++i)
            if (keptValid[i] && kept[i].layout == layout) return kept[i];
        const int slot = nextSlot;
        keptValid[slot] = false;
        const KeyboardLayout before = ActiveKeyboardLayout();
        BuildPlans(layout, kept[slot]);
        const KeyboardLayout after = ActiveKeyboardLayout();
        const bool heldStill = before != layout || after == before;
        if (heldStill || build == kBuilds) {
            keptValid[slot] = heldStill;
            if (heldStill) nextSlot = (nextSlot + 1) % kKeptLayouts;
            return kept[slot];
        }
        layout = after;
    }
}
