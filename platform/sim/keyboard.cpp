// Simulated keyboard input: records key events into storage set aside by the
// test, so that sending an event never allocates. One thread sends at a time
// (the reception thread); readers see every event published before the count.
#include "platform/sim/keyboard.h"

#include <atomic>
#include <iterator>
#include <memory>

#include "platform/sim/layout.h"
#include "platform/sim/threads.h"

namespace platform {
namespace sim {
namespace {

std::unique_ptr<KeyEvent[]> storage;
std::size_t capacity = 0;
std::atomic<std::size_t> count{0};
std::atomic<std::uint64_t> checksum{0};
// Written by the reception thread, read once it has ended.
char16_t prepared[256];
std::size_t preparedCount = 0;
std::size_t preparedAt = 0;

// The record a claimed run keeps of what its key events change, as the file
// of a real backend would outlive the process; and from which event on the
// run is dead.
struct KeyRecordModel {
    bool claimed = false;
    bool down[256] = {};
    std::uint32_t capsLockPresses = 0;
};
KeyRecordModel record;
std::atomic<std::size_t> killedAfter{~std::size_t{0}};

// False once the run is dead: the event goes nowhere.
bool Alive(std::size_t sent) {
    return sent < killedAfter.load(std::memory_order_relaxed);
}

void Recorded(std::uint8_t virtualKey, bool release) {
    if (!record.claimed) return;
    record.down[virtualKey] = !release;
    if (!release && virtualKey == kVkCapital) ++record.capsLockPresses;
}

}  // namespace

void KillRunAfterEvents(std::size_t events) {
    killedAfter.store(events);
}

std::u16string PreparedCharacters() {
    return std::u16string(prepared, preparedCount);
}

std::size_t PreparedAtEvent() {
    return preparedAt;
}

void ResetKeyboard(std::size_t size) {
    storage = std::make_unique<KeyEvent[]>(size);
    capacity = size;
    count.store(0);
    checksum.store(0);
    preparedCount = preparedAt = 0;
    record = {};
    killedAfter.store(~std::size_t{0});
    detail::ResetFocusedApplication(size);
}

std::size_t KeyEventCount() {
    return count.load(std::memory_order_acquire);
}

std::vector<KeyEvent> KeyEvents() {
    std::size_t n = count.load(std::memory_order_acquire);
    if (n > capacity) n = capacity;
    return std::vector<KeyEvent>(storage.get(), storage.get() + n);
}

std::uint64_t KeyEventChecksum() {
    return checksum.load(std::memory_order_acquire);
}

}  // namespace sim

void keybd_event(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags,
                 std::uintptr_t extraInfo) {
    using namespace sim;
    std::size_t n = count.load(std::memory_order_relaxed);
    if (!Alive(n)) return;
    Recorded(virtualKey, (flags & kKeyEventFKeyUp) != 0);
    if (n < capacity) storage[n] = {virtualKey, scanCode, flags, extraInfo, NowUs(), 0};
    checksum.store(checksum.load(std::memory_order_relaxed) * 31 + virtualKey * 8u + flags,
                   std::memory_order_relaxed);
    if (detail::FocusedApplicationReceives())
        detail::ApplyKeyEvent(virtualKey, (flags & kKeyEventFKeyUp) != 0);
    count.store(n + 1, std::memory_order_release);
}

std::uint32_t SendInput(std::uint32_t inputs, const KeyboardInput* input) {
    using namespace sim;
    for (std::uint32_t i = 0; i < inputs; ++i) {
        const KeyboardInput& in = input[i];
        const bool character = (in.dwFlags & kKeyEventFUnicode) != 0;
        const bool byScanCode = !character && (in.dwFlags & kKeyEventFScanCode) != 0;
        const auto key = static_cast<std::uint8_t>(character ? 0 : in.wVk);
        std::size_t n = count.load(std::memory_order_relaxed);
        if (!Alive(n)) return i;
        const bool release = (in.dwFlags & kKeyEventFKeyUp) != 0;
        if (!character) Recorded(key, release);
        const auto typed = static_cast<char16_t>(character ? in.wScan : 0);
        const auto scanCode = static_cast<std::uint8_t>(byScanCode ? in.wScan : 0);
        if (n < capacity) storage[n] = {key, scanCode, in.dwFlags, 0, NowUs(), typed};
        checksum.store(checksum.load(std::memory_order_relaxed) * 31 + in.wScan * 8u + in.dwFlags,
                       std::memory_order_relaxed);
        // As Windows does, a key named by its scan code is found by that
        // code alone: a wrong code types another key.
        if (detail::FocusedApplicationReceives()) {
            if (byScanCode) {
                detail::ApplyKeyEvent(detail::KeyOfScanCode(in.wScan), release);
            } else if (!character) {
                detail::ApplyKeyEvent(key, release);
            } else if (!release) {
                detail::ApplyCharacter(in.wScan);
            }
        }
        count.store(n + 1, std::memory_order_release);
    }
    return inputs;
}

void PrepareCharacters(const char16_t* characters, std::size_t n) {
    using namespace sim;
    preparedCount = n < std::size(prepared) ? n : std::size(prepared);
    for (std::size_t i = 0; i < preparedCount; ++i) prepared[i] = characters[i];
    preparedAt = count.load(std::memory_order_relaxed);
}

// A new process: what the record holds was left by a run that never let go.
void ClaimKeyRecord() {
    using namespace sim;
    killedAfter.store(~std::size_t{0});
    const KeyRecordModel left = record;
    record = {};
    for (int key = 0; key < 256; ++key)
        if (left.down[key]) keybd_event(static_cast<std::uint8_t>(key), 0, kKeyEventFKeyUp, 0);
    if (left.capsLockPresses % 2 != 0) {
        keybd_event(kVkCapital, 0, 0, 0);
        keybd_event(kVkCapital, 0, kKeyEventFKeyUp, 0);
    }
    record.claimed = true;
}

// The simulated keyboard types virtual keys as given: no layout to place them on.
void SetKeyHints(const KeyHint*, std::size_t) {}

}  // namespace platform
