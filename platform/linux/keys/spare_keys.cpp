// Spare key codes bound to characters with XChangeKeyboardMapping.
#include "platform/linux/keys/spare_keys_private.h"

#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <iterator>
#include <limits>

#include "platform/linux/monotonic_clock_private.h"

namespace platform::linuxkeys {
namespace {

// The slowest client we type for exactly: one that spends this long on each
// key event. It handles events in order, so the last event of a code is
// handled by the time this clock, advanced per event from the moment each is
// sent, has passed it, however far behind the client has fallen.
constexpr std::int64_t kClientEventNs = 15'000'000;
// On top of that, room for a client that is not scheduled at once.
constexpr std::int64_t kFreeMarginNs = 100'000'000;
// After the server has taken a new mapping, the time a client needs to read
// it before a press of the code reaches it. Against Chromium a press straight
// after XSync was right 37 times in 40, after XFlush and 2 ms 30 in 30; with
// two Chromiums typed into at once on two cores, 5 ms after XSync let one
// character in 12 full scans through wrong, 10 ms none.
constexpr std::int64_t kSettleNs = 10'000'000;
// Chromium asks for the new mapping only when it comes to the server's notice
// in its queue, behind the key events sent before: the pause counts from when
// a client that keeps up, at this much per event, has handled them (at a
// stroke delay of 1 ms that is now; a burst at 0 waits for its events).
constexpr std::int64_t kKeepingUpEventNs = 1'000'000;
// Waits for a free code look for a quit this often.
constexpr std::int64_t kWaitSliceNs = 10'000'000;
constexpr std::uint32_t kUnicodeKeysym = 0x01000000;
constexpr std::int64_t kNeverFree = std::numeric_limits<std::int64_t>::max();

// The bindings the server refused, by request serial; the error handler is
// ours from the first binding to the Settle after it.
struct BindErrors {
    _XDisplay* display = nullptr;
    unsigned long serials[16] = {};
    int count = 0;
    XErrorHandler previous = nullptr;
};
BindErrors bindErrors;

int RecordBindError(Display* display, XErrorEvent* error) {
    if (display != bindErrors.display || error->request_code != X_ChangeKeyboardMapping) {
        return bindErrors.previous != nullptr ? bindErrors.previous(display, error) : 0;
    }
    if (bindErrors.count < static_cast<int>(std::size(bindErrors.serials)))
        bindErrors.serials[bindErrors.count++] = error->serial;
    return 0;
}

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
        if (empty && code < 256) slots_[count_++] = {static_cast<KeyCode>(code), 0, 0, 0, false, 0};
    }
    XFree(syms);
}

void SpareKeys::EventSent() {
    const std::int64_t now = linux_backend::MonotonicNs();
    clientDoneNs_ = std::max(clientDoneNs_, now) + kClientEventNs;
    keptUpNs_ = std::max(keptUpNs_, now) + kKeepingUpEventNs;
}

void SpareKeys::Pressed(KeyCode code) {
    for (int i = 0; i < count_; ++i)
        if (slots_[i].code == code) slots_[i].freeAtNs = kNeverFree, slots_[i].wanted = false;
}

void SpareKeys::Released(KeyCode code) {
    for (int i = 0; i < count_; ++i)
        if (slots_[i].code == code) slots_[i].freeAtNs = clientDoneNs_ + kFreeMarginNs;
}

SpareKeys::Slot* SpareKeys::Find(std::uint32_t lower, std::uint32_t upper) {
    for (int i = 0; i < count_; ++i)
        if (slots_[i].lower == lower && slots_[i].upper == upper) return &slots_[i];
    return nullptr;
}

SpareKeys::Slot* SpareKeys::BindFree(_XDisplay* display, std::uint32_t lower, std::uint32_t upper) {
    // The code free soonest, leaving those the line still needs while others remain.
    Slot* slot = nullptr;
    for (int i = 0; i < count_; ++i) {
        Slot& s = slots_[i];
        if (slot == nullptr || (slot->wanted && !s.wanted) ||
            (slot->wanted == s.wanted && s.freeAtNs < slot->freeAtNs))
            slot = &s;
    }
    if (slot == nullptr || slot->freeAtNs == kNeverFree) return nullptr;
    while (linux_backend::MonotonicNs() < slot->freeAtNs) {
        if (cancel_.load()) return nullptr;
        linux_backend::SleepUntil(
            std::min(slot->freeAtNs, linux_backend::MonotonicNs() + kWaitSliceNs));
    }
    KeySym pair[2] = {lower, upper};
    slot->lower = lower;
    slot->upper = upper;
    slot->wanted = true;
    slot->freeAtNs = 0;
    // The server answers a refusal later, by the request's serial; Xlib's own
    // handler would end the program.
    if (bindErrors.display == nullptr)
        bindErrors = {display, {}, 0, XSetErrorHandler(RecordBindError)};
    if (record_ != nullptr) record_->Bound(slot->code, lower, upper);
    slot->request = NextRequest(display);
    XChangeKeyboardMapping(display, slot->code, 2, pair, 1);
    return slot;
}

void SpareKeys::Settle(_XDisplay* display) {
    XSync(display, False);
    if (bindErrors.display != nullptr) XSetErrorHandler(bindErrors.previous);
    bindErrors.display = nullptr;
    for (int i = 0; i < count_; ++i) {
        Slot& slot = slots_[i];
        if (slot.request == 0) continue;
        for (int e = 0; e < bindErrors.count; ++e) {
            if (bindErrors.serials[e] == slot.request) {
                slot.lower = slot.upper = 0;
                if (record_ != nullptr) record_->Bound(slot.code, 0, 0);
            }
        }
        slot.request = 0;
    }
    linux_backend::SleepUntil(std::max(linux_backend::MonotonicNs(), keptUpNs_) + kSettleNs);
}

namespace {

// Both cases of a letter, or the server takes the one keysym for a
// lower/upper pair and a capital comes out small.
// A character without case beyond Latin-1 is bound as its Unicode keysym:
// clients know every one of those, not every old name (Chromium types
// nothing for `permille`).
bool KeysymPair(char32_t character, std::uint32_t& lower, std::uint32_t& upper) {
    const auto keysym = static_cast<std::uint32_t>(xkb_utf32_to_keysym(character));
    lower = xkb_keysym_to_lower(keysym);
    upper = xkb_keysym_to_upper(keysym);
    if (lower == upper) lower = upper = character > 0xFF ? kUnicodeKeysym | character : keysym;
    return keysym != 0;
}

}  // namespace

bool SpareKeys::Prepare(_XDisplay* display, const char32_t* characters, int count) {
    if (!chosen_) Choose(display);
    for (int i = 0; i < count_; ++i) slots_[i].wanted = false;
    // The codes already holding a character of the line stay as they are.
    int left = count_;
    for (int i = 0; i < count && left > 0; ++i) {
        std::uint32_t lower = 0, upper = 0;
        if (!KeysymPair(characters[i], lower, upper)) continue;
        if (Slot* slot = Find(lower, upper); slot != nullptr && !slot->wanted) {
            slot->wanted = true;
            --left;
        }
    }
    bool bound = false;
    for (int i = 0; i < count && left > 0; ++i) {
        std::uint32_t lower = 0, upper = 0;
        if (!KeysymPair(characters[i], lower, upper) || Find(lower, upper) != nullptr) continue;
        if (BindFree(display, lower, upper) == nullptr) {
            if (bound) Settle(display);
            return !cancel_.load();
        }
        bound = true;
        --left;
    }
    if (bound) Settle(display);
    return true;
}

KeyCode SpareKeys::Bind(_XDisplay* display, char32_t character, bool& shift, bool& cancelled) {
    cancelled = false;
    if (!chosen_) Choose(display);
    std::uint32_t lower = 0, upper = 0;
    if (count_ == 0 || !KeysymPair(character, lower, upper)) return kNoKey;
    shift = xkb_utf32_to_keysym(character) == upper && lower != upper;
    Slot* slot = Find(lower, upper);
    if (slot == nullptr) {
        // More characters in the line than codes: the line goes on in parts.
        slot = BindFree(display, lower, upper);
        if (slot == nullptr) {
            cancelled = cancel_.load();
            return kNoKey;
        }
        Settle(display);
        if (slot->lower != lower) return kNoKey;
    }
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
        if (record_ != nullptr) record_->Bound(slot.code, 0, 0);
        slot.lower = slot.upper = 0;
        slot.freeAtNs = 0;
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
