// Windows' layout questions over the XKB layout the keystrokes use.
#include "platform/linux/keys/layout_queries_private.h"

namespace platform::linuxkeys {
namespace {

constexpr std::uint16_t kScanShift = 0x0100, kScanControlAlt = 0x0600;

// The virtual keys that name keys typing characters.
bool IsCharacterKey(int vk) {
    return vk == ' ' || (vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z') ||
           IsOemKey(static_cast<std::uint8_t>(vk));
}

int Put(char32_t c, char16_t* buffer, int at, int size) {
    if (c >= 0x10000) {
        if (at + 1 < size) {
            buffer[at] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            buffer[at + 1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
        return 2;
    }
    if (at < size) buffer[at] = static_cast<char16_t>(c);
    return 1;
}

}  // namespace

std::int16_t LayoutQueries::KeyScan(const KeyLayout& layout, char16_t character) {
    for (int level = 0; level < kLevelCount; ++level) {
        for (int vk = 0; vk < 256; ++vk) {
            if (!IsCharacterKey(vk)) continue;
            const KeyCode code = layout.CodeFor(static_cast<std::uint8_t>(vk), level);
            if (code == kNoKey || layout.CharacterAt(code, level) != character ||
                DeadKeys::IsDeadKey(layout.KeysymAt(code, level)))
                continue;
            std::uint16_t bits = static_cast<std::uint16_t>(vk);
            if ((level & kLevelShift) != 0) bits |= kScanShift;
            if ((level & kLevelAltGr) != 0) bits |= kScanControlAlt;
            return static_cast<std::int16_t>(bits);
        }
    }
    return -1;
}

std::uint32_t LayoutQueries::ScanCode(const KeyLayout& layout, std::uint8_t virtualKey) {
    const KeyCode code = layout.CodeFor(virtualKey, 0);
    return code == kNoKey ? 0 : static_cast<std::uint32_t>(code - kEvdevOffset);
}

int LayoutQueries::ToUnicode(const KeyLayout& layout, DeadKeys& deadKeys, std::uint8_t virtualKey,
                             const std::uint8_t* keyState, char16_t* buffer, int bufferSize) {
    auto down = [keyState](std::uint8_t vk) { return (keyState[vk] & 0x80) != 0; };
    const bool shift = down(kVkShift) || down(kVkLShift) || down(kVkRShift);
    const bool control = down(kVkControl) || down(kVkLControl) || down(kVkRControl);
    const bool alt = down(kVkMenu) || down(kVkLMenu) || down(kVkRMenu);
    // As the keystrokes are typed: Control and Alt together are the third
    // level, which a layout without it does not have.
    const bool altGr = control && alt;
    if (altGr && layout.Level3Code() == kNoKey) return 0;
    const int level = (shift ? kLevelShift : 0) | (altGr ? kLevelAltGr : 0);
    const KeyCode code = layout.CodeFor(virtualKey, level);
    if (code == kNoKey) return 0;
    const std::uint32_t keysym = layout.KeysymAt(code, level);
    const char32_t typed = layout.CharacterAt(code, level);
    const std::uint32_t waiting = pending_;
    if (DeadKeys::IsDeadKey(keysym)) {
        if (waiting == 0) {
            pending_ = keysym;
            Put(DeadKeys::Accent(keysym), buffer, 0, bufferSize);
            return -1;
        }
        pending_ = 0;
        if (const char32_t composed = deadKeys.Compose(waiting, keysym); composed != 0)
            return Put(composed, buffer, 0, bufferSize);
        const int n = Put(DeadKeys::Accent(waiting), buffer, 0, bufferSize);
        return n + Put(DeadKeys::Accent(keysym), buffer, n, bufferSize);
    }
    if (typed == 0) return 0;  // a key that types nothing leaves a dead key waiting
    if (waiting == 0) return Put(typed, buffer, 0, bufferSize);
    pending_ = 0;
    if (const char32_t composed = deadKeys.Compose(waiting, keysym); composed != 0)
        return Put(composed, buffer, 0, bufferSize);
    const int n = Put(DeadKeys::Accent(waiting), buffer, 0, bufferSize);
    return n + Put(typed, buffer, n, bufferSize);
}

}  // namespace platform::linuxkeys
