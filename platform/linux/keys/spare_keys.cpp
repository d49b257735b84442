// Spare key codes bound to characters with XChangeKeyboardMapping.
#include "platform/linux/keys/spare_keys_private.h"

#include <X11/Xlib.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/linux/monotonic_clock_private.h"

namespace platform::linuxkeys {
namespace {

// How long a binding stays after its press before its code may carry
// another character: far longer than a client takes to handle a key event.
constexpr std::int64_t kKeepBindingNs = 100'000'000;

}  // namespace

void SpareKeys::Choose(_XDisplay* display) {
    chosen_ = true;
    count_ = 0;
    int low = 0, high = 0;
    XDisplayKeycodes(display, &low, &high);
    int perCode = 0;
    KeySym* syms =
        XGetKeyboardMapping(display, static_cast<::KeyCode>(low), high - low + 1, &perCode);
    if (syms == nullptr) return;
    // From the top of the range down: the codes no keyboard sends.
    for (int code = high; code >= low && count_ < kMaxCodes; --code) {
        bool empty = true;
        for (int i = 0; i < perCode; ++i)
            if (syms[(code - low) * perCode + i] != NoSymbol) empty = false;
        if (empty && code < 256) slots_[count_++] = {static_cast<KeyCode>(code), 0, 0, 0};
    }
    XFree(syms);
}

KeyCode SpareKeys::Bind(_XDisplay* display, char32_t character, bool& shift) {
    if (!chosen_) Choose(display);
    const auto keysym = static_cast<std::uint32_t>(xkb_utf32_to_keysym(character));
    if (count_ == 0 || keysym == 0) return kNoKey;
    // Both cases of a letter, or the server takes the one keysym for a
    // lower/upper pair and a capital comes out small.
    std::uint32_t lower = xkb_keysym_to_lower(keysym);
    std::uint32_t upper = xkb_keysym_to_upper(keysym);
    if (lower == upper) lower = upper = keysym;
    shift = keysym == upper && lower != upper;

    Slot* slot = nullptr;
    for (int i = 0; i < count_ && slot == nullptr; ++i)
        if (slots_[i].lower == lower && slots_[i].upper == upper) slot = &slots_[i];
    if (slot == nullptr) {
        slot = &slots_[0];
        for (int i = 1; i < count_; ++i)
            if (slots_[i].usedNs < slot->usedNs) slot = &slots_[i];
        if (slot->usedNs != 0) linux_backend::SleepUntil(slot->usedNs + kKeepBindingNs);
        KeySym pair[2] = {lower, upper};
        XChangeKeyboardMapping(display, slot->code, 2, pair, 1);
        slot->lower = lower;
        slot->upper = upper;
    }
    slot->usedNs = linux_backend::MonotonicNs();
    return slot->code;
}

void SpareKeys::Restore(_XDisplay* display) {
    for (int i = 0; i < count_; ++i) {
        Slot& slot = slots_[i];
        if (slot.lower == 0) continue;
        int perCode = 0;
        KeySym* now = XGetKeyboardMapping(display, slot.code, 1, &perCode);
        const bool ours =
            now != nullptr && perCode >= 2 && now[0] == slot.lower && now[1] == slot.upper;
        if (now != nullptr) XFree(now);
        if (ours) {
            KeySym none[2] = {NoSymbol, NoSymbol};
            XChangeKeyboardMapping(display, slot.code, 2, none, 1);
        }
        slot.lower = slot.upper = 0;
        slot.usedNs = 0;
    }
    XSync(display, False);
}

bool SpareKeys::AllOurs(int first, int count) const {
    for (int code = first; code < first + count; ++code) {
        bool ours = false;
        for (int i = 0; i < count_; ++i) ours = ours || slots_[i].code == code;
        if (!ours) return false;
    }
    return true;
}

}  // namespace platform::linuxkeys
