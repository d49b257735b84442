// Synthetic keystrokes on desktop Windows, each written down in the run's key
// record (keys/key_record) before Windows sees it. The core asks for "silent"
// presses and releases (flag 0x0004); on the desktop that bit means a Unicode
// packet instead, so only the key-up bit is passed on.
// The seam comes before <windows.h>: its constants share names with Windows macros.
#include "platform/services.h"

#include <windows.h>

#include <atomic>
#include <iterator>

#include "platform/win32/keys/key_record_private.h"

namespace platform {
namespace {

// Set once at start, before reception types; null when no record is kept.
std::atomic<win32keys::KeyRecordContents*> keyRecord{nullptr};

void SendKeyEvent(std::uint8_t virtualKey, std::uint8_t scanCode, bool release,
                  std::uintptr_t extraInfo) {
    // Programs that look at scan codes (terminals, remote desktops) get the
    // one that belongs to the key, as a real keyboard would send it.
    if (scanCode == 0) {
        scanCode = static_cast<std::uint8_t>(::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    }
    ::keybd_event(virtualKey, scanCode, release ? KEYEVENTF_KEYUP : 0,
                  static_cast<ULONG_PTR>(extraInfo));
}

void GiveBackKeyEvent(std::uint8_t virtualKey, bool release) {
    SendKeyEvent(virtualKey, 0, release, 0);
}

}  // namespace

void keybd_event(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags,
                 std::uintptr_t extraInfo) {
    const bool release = (flags & kKeyEventFKeyUp) != 0;
    win32keys::KeyRecordContents* record = keyRecord.load(std::memory_order_acquire);
    win32keys::RecordKeyEvent(record, virtualKey, release);
    SendKeyEvent(virtualKey, scanCode, release, extraInfo);
    win32keys::RecordKeyEventSent(record, virtualKey, release);
}

// Characters sent as themselves leave no key down; key inputs are written
// down as keybd_event's are.
std::uint32_t SendInput(std::uint32_t count, const KeyboardInput* inputs) {
    win32keys::KeyRecordContents* record = keyRecord.load(std::memory_order_acquire);
    std::uint32_t sent = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const bool key = (inputs[i].dwFlags & kKeyEventFUnicode) == 0;
        const bool release = (inputs[i].dwFlags & kKeyEventFKeyUp) != 0;
        const auto virtualKey = static_cast<std::uint8_t>(inputs[i].wVk);
        if (key) win32keys::RecordKeyEvent(record, virtualKey, release);
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = inputs[i].wVk;
        input.ki.wScan = inputs[i].wScan;
        input.ki.dwFlags = inputs[i].dwFlags;
        sent += ::SendInput(1, &input, sizeof input);
        if (key) win32keys::RecordKeyEventSent(record, virtualKey, release);
    }
    return sent;
}

// Beside the other per-user state: %LOCALAPPDATA%\QuorvelCE.
void ClaimKeyRecord() {
    if (keyRecord.load() != nullptr) return;
    wchar_t folder[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
    constexpr wchar_t kOurs[] = L"\\QuorvelCE";
    if (length == 0 || length + std::size(kOurs) > MAX_PATH) return;
    for (std::size_t i = 0; i < std::size(kOurs); ++i) folder[length + i] = kOurs[i];
    keyRecord.store(win32keys::ClaimKeyRecord(folder, GiveBackKeyEvent), std::memory_order_release);
}

// Windows places the virtual keys on the active layout itself.
void SetKeyHints(const KeyHint*, std::size_t) {}

}  // namespace platform
