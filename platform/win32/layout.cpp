// Keyboard layouts on Windows: the layout calls passed through (characters
// sent as themselves go through SendInput, in keyboard.cpp), and whether the
// focused window can receive our keystrokes at all. Under Wine two of them
// need help: ToUnicodeEx reports a dead key only to a thread that has a
// focused window (to others it types the accent), and GetKeyState sees the
// desktop's Caps Lock only from such a thread, from its second call on.
// Desktop Windows reads Caps Lock through the focused window's thread instead.
// The seam comes before <windows.h>: its constants share names with Windows macros.
#include "platform/services.h"

#include <windows.h>

namespace platform {
namespace {

bool RunningUnderWine() {
    static const bool wine =
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// A hidden window of the calling thread, holding that thread's focus, so that
// Wine answers dead keys as Windows does. Desktop Windows needs none (and a
// window in a thread that pumps no messages would hold up broadcasts).
void GiveThreadAFocusedWindow() {
    static thread_local bool given = false;
    if (given || !RunningUnderWine()) return;
    given = true;
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) return;
    ::SetActiveWindow(window);
    ::SetFocus(window);
}

HKL ToHkl(KeyboardLayout layout) {
    return reinterpret_cast<HKL>(layout);
}

}  // namespace

WindowHandle GetForegroundWindow() {
    return static_cast<WindowHandle>(reinterpret_cast<std::uintptr_t>(::GetForegroundWindow()));
}

std::uint32_t GetWindowThreadProcessId(WindowHandle window, std::uint32_t* processId) {
    DWORD process = 0;
    const DWORD thread = ::GetWindowThreadProcessId(
        reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)), &process);
    if (processId != nullptr) *processId = process;
    return thread;
}

KeyboardLayout GetKeyboardLayout(std::uint32_t threadId) {
    return reinterpret_cast<KeyboardLayout>(::GetKeyboardLayout(threadId));
}

std::int16_t VkKeyScanExW(char16_t character, KeyboardLayout layout) {
    return ::VkKeyScanExW(static_cast<WCHAR>(character), ToHkl(layout));
}

std::int32_t ToUnicodeEx(std::uint32_t virtualKey, std::uint32_t scanCode,
                         const std::uint8_t* keyState, char16_t* buffer, std::int32_t bufferSize,
                         std::uint32_t flags, KeyboardLayout layout) {
    GiveThreadAFocusedWindow();
    return ::ToUnicodeEx(virtualKey, scanCode, keyState, reinterpret_cast<LPWSTR>(buffer),
                         bufferSize, flags, ToHkl(layout));
}

std::uint32_t MapVirtualKeyExW(std::uint32_t code, std::uint32_t mapType, KeyboardLayout layout) {
    return ::MapVirtualKeyExW(code, mapType, ToHkl(layout));
}

std::int16_t GetKeyState(std::int32_t virtualKey) {
    if (RunningUnderWine()) {
        GiveThreadAFocusedWindow();
        ::GetKeyState(virtualKey);
        return ::GetKeyState(virtualKey);
    }
    // A thread's key state on Windows is its own input state, which follows
    // the keyboard only as its messages are read; threads attached to each
    // other share one. So the focused window's thread is asked, and let go of
    // at once: attached, our events and its focus would be tied together.
    // (Wine clears an attached thread's key state, so it keeps the path above.)
    const DWORD self = ::GetCurrentThreadId();
    const DWORD focused = ::GetWindowThreadProcessId(::GetForegroundWindow(), nullptr);
    if (focused == 0 || focused == self || !::AttachThreadInput(self, focused, TRUE))
        return ::GetKeyState(virtualKey);
    const SHORT state = ::GetKeyState(virtualKey);
    ::AttachThreadInput(self, focused, FALSE);
    return state;
}

namespace {

// A process token's integrity level: the last sub-authority of its
// mandatory label (SECURITY_MANDATORY_*_RID). False, with the reason in
// `error`, when it cannot be read.
bool IntegrityLevel(HANDLE process, DWORD& level, DWORD& error) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) {
        error = ::GetLastError();
        return false;
    }
    alignas(TOKEN_MANDATORY_LABEL)
        BYTE label[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const BOOL read = ::GetTokenInformation(token, TokenIntegrityLevel, label, sizeof label, &size);
    error = read ? ERROR_SUCCESS : ::GetLastError();
    ::CloseHandle(token);
    if (!read) return false;
    PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label)->Label.Sid;
    const UCHAR count = *::GetSidSubAuthorityCount(sid);
    if (count == 0) return false;
    level = *::GetSidSubAuthority(sid, count - 1u);
    return true;
}

void ExecutableName(HANDLE process, char16_t* program, std::size_t capacity) {
    if (capacity == 0) return;
    program[0] = 0;
    wchar_t path[MAX_PATH];
    DWORD length = MAX_PATH;
    if (process == nullptr || !::QueryFullProcessImageNameW(process, 0, path, &length)) return;
    DWORD start = 0;
    for (DWORD i = 0; i < length; ++i)
        if (path[i] == L'\\' || path[i] == L'/') start = i + 1;
    std::size_t n = 0;
    for (DWORD i = start; i < length && n + 1 < capacity; ++i) program[n++] = path[i];
    program[n] = 0;
}

}  // namespace

// User Interface Privilege Isolation drops input sent to a process above our
// integrity level, and neither SendInput's result nor GetLastError tells, so
// the levels are compared before a line is typed. Wine gives every process
// the same level: the answer there is always yes.
KeystrokeReach KeystrokesReachForegroundWindow(char16_t* program, std::size_t capacity) {
    if (capacity != 0) program[0] = 0;
    // No window at all while the secure desktop, the lock screen or a desktop
    // switch has the input: Windows drops whatever we send meanwhile.
    const HWND foreground = ::GetForegroundWindow();
    if (foreground == nullptr) return KeystrokeReach::kNoFocus;
    DWORD processId = 0;
    ::GetWindowThreadProcessId(foreground, &processId);
    if (processId == 0 || processId == ::GetCurrentProcessId()) return KeystrokeReach::kReached;
    // Ours does not change while we run: read once.
    constexpr DWORD kUnread = 0xFFFFFFFF;
    static const DWORD ours = [] {
        DWORD level = 0, unread = ERROR_SUCCESS;
        return IntegrityLevel(::GetCurrentProcess(), level, unread) ? level : kUnread;
    }();
    if (ours == kUnread) return KeystrokeReach::kReached;
    DWORD error = ERROR_SUCCESS;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    DWORD theirs = 0;
    bool known = false;
    if (process != nullptr) {
        known = IntegrityLevel(process, theirs, error);
    } else {
        error = ::GetLastError();
    }
    // A process we may not even ask is one above us (an elevated program's
    // token refuses a lower caller), unless we are elevated ourselves.
    const bool above =
        known ? theirs > ours : error == ERROR_ACCESS_DENIED && ours < SECURITY_MANDATORY_HIGH_RID;
    if (above) ExecutableName(process, program, capacity);
    if (process != nullptr) ::CloseHandle(process);
    return above ? KeystrokeReach::kWindowAbove : KeystrokeReach::kReached;
}

// Windows takes characters as packets of their own and keys by scan code.
bool SendModesApply() {
    return true;
}

// Windows types any character sent as itself: nothing to prepare.
void PrepareCharacters(const char16_t*, std::size_t) {}

}  // namespace platform
