// The Windows backend's threads, events, message boxes, tray icon and key
// events under Wine: what the dialog and the reception thread rely on.
#include "platform/services.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The Windows calls and the seam's are mixed here, so the constants are
// spelled the Windows way; the seam's have the same values.

std::uint32_t AddOne(void* parameter) {
    ++*static_cast<int*>(parameter);
    return 7;
}

TEST(Win32Threads, NamedEventThreadAndCloseDispatch) {
    const platform::EventHandle first = platform::CreateEventW(false, false, u"QUORVEL_TEST_EVENT");
    ASSERT_NE(first, platform::kNoEvent);
    EXPECT_NE(platform::GetLastError(), 183u);
    // The second creation of the same name is how a second instance knows.
    const platform::EventHandle second =
        platform::CreateEventW(false, false, u"QUORVEL_TEST_EVENT");
    ASSERT_NE(second, platform::kNoEvent);
    EXPECT_EQ(platform::GetLastError(), 183u);
    EXPECT_TRUE(platform::SetEvent(second));
    EXPECT_EQ(platform::WaitForSingleObject(first, 0), 0u);
    EXPECT_TRUE(platform::CloseHandle(second));
    EXPECT_TRUE(platform::CloseHandle(first));

    int counter = 0;
    std::uint32_t id = 0;
    const platform::ThreadHandle thread = platform::CreateThread(AddOne, &counter, &id);
    ASSERT_NE(thread, platform::kNoThread);
    EXPECT_NE(id, 0u);
    ASSERT_EQ(platform::WaitForSingleObject(thread, 10000), 0u);
    EXPECT_EQ(counter, 1);
    DWORD code = 0;
    EXPECT_TRUE(
        GetExitCodeThread(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(thread)), &code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(platform::CloseHandle(thread));

    EXPECT_FALSE(platform::CloseHandle(platform::kNoThread));
    EXPECT_FALSE(platform::CloseHandle(platform::kNoEvent));
}

std::uint32_t SetAfterAWhile(void* event) {
    ::Sleep(5);
    platform::SetEvent(*static_cast<const platform::EventHandle*>(event));
    return 0;
}

TEST(Win32Threads, ShortPausesNeverEndEarlyAndStillSeeTheirEvent) {
    // The stroke delay: a pause that ended early would type faster than the
    // settings allow. Only the lower bound is checked, which no load can break.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) platform::Sleep(1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));

    const platform::EventHandle event = platform::CreateEventW(true, false, nullptr);
    ASSERT_NE(event, platform::kNoEvent);
    const auto waitStart = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::WaitForSingleObject(event, 3), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - waitStart, std::chrono::milliseconds(3));

    // A quit sets the event in the middle of a pause: the pause reports it.
    const platform::ThreadHandle setter =
        platform::CreateThread(SetAfterAWhile, const_cast<platform::EventHandle*>(&event), nullptr);
    ASSERT_NE(setter, platform::kNoThread);
    EXPECT_EQ(platform::WaitForSingleObject(event, 50), WAIT_OBJECT_0);
    platform::WaitForSingleObject(setter, INFINITE);
    platform::CloseHandle(setter);
    platform::CloseHandle(event);
}

std::uint32_t ShowBox(void* result) {
    *static_cast<std::int32_t*>(result) = platform::MessageBoxW(
        platform::kNoWindow, u"Ouverture du port série impossible (5)", u"Erreur", MB_OK);
    return 0;
}

TEST(Win32Shell, DismissEndsAMessageBoxOfAnotherThread) {
    std::int32_t result = -1;
    const platform::ThreadHandle thread = platform::CreateThread(ShowBox, &result, nullptr);
    ASSERT_NE(thread, platform::kNoThread);
    // The box appears some time after the thread starts; keep dismissing
    // until the thread has left it.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (platform::WaitForSingleObject(thread, 20) != 0 &&
           std::chrono::steady_clock::now() < giveUp) {
        platform::DismissMessageBoxes(thread);
    }
    ASSERT_EQ(platform::WaitForSingleObject(thread, 0), 0u) << "the box was never dismissed";
    EXPECT_EQ(result, IDOK);
    platform::CloseHandle(thread);
}

// A window of our own that records the key messages it receives.
std::vector<MSG> keyMessages;

LRESULT CALLBACK RecordKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_CHAR) {
        keyMessages.push_back(MSG{window, message, wParam, lParam, 0, {}});
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeWindow(const wchar_t* title) {
    WNDCLASSW cls{};
    cls.lpfnWndProc = RecordKeys;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"QuorvelKeyRecorder";
    RegisterClassW(&cls);
    HWND window = CreateWindowExW(0, cls.lpszClassName, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10,
                                  10, 200, 100, nullptr, nullptr, cls.hInstance, nullptr);
    SetForegroundWindow(window);
    SetFocus(window);
    return window;
}

void Pump(HWND window) {
    // Key events injected through the system queue arrive after a round trip
    // through the display; pump until the queue stays quiet for a while.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (std::chrono::steady_clock::now() < end) {
        MSG msg;
        while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    }
}

TEST(Win32Keyboard, SilentPressAndReleaseArriveAsPlainKeys) {
    HWND window = MakeWindow(L"quorvel key test");
    ASSERT_NE(window, nullptr);
    Pump(window);
    if (GetForegroundWindow() != window) GTEST_SKIP() << "no focus on this display";
    keyMessages.clear();

    // The core's own flags: 0x0004 press, 0x0006 release, with Shift around
    // the second key.
    platform::keybd_event(VK_SHIFT, 0, 0x0006, 0);
    platform::keybd_event('Q', 0, 0x0004, 0);
    platform::keybd_event('Q', 0, 0x0006, 0);
    platform::keybd_event(VK_SHIFT, 0, 0x0004, 0);
    platform::keybd_event('Q', 0, 0x0004, 0);
    platform::keybd_event('Q', 0, 0x0006, 0);
    platform::keybd_event(VK_SHIFT, 0, 0x0006, 0);
    Pump(window);
    DestroyWindow(window);

    std::wstring typed;
    int downs = 0;
    int ups = 0;
    for (const MSG& m : keyMessages) {
        // A Unicode packet would mean the silent bit went through as KEYEVENTF_UNICODE.
        EXPECT_NE(m.wParam, static_cast<WPARAM>(VK_PACKET));
        if (m.message == WM_CHAR) typed += static_cast<wchar_t>(m.wParam);
        if (m.message == WM_KEYDOWN && m.wParam == 'Q') ++downs;
        if (m.message == WM_KEYUP && m.wParam == 'Q') ++ups;
    }
    EXPECT_EQ(typed, L"qQ");
    EXPECT_EQ(downs, 2);
    EXPECT_EQ(ups, 2);
}

TEST(Win32Shell, TrayIconAddModifyDelete) {
    HWND window = CreateWindowExW(0, L"STATIC", L"tray owner", 0, 0, 0, 0, 0, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    platform::NotifyIconData record;
    record.cbSize = 152;
    record.hWnd = platform::WindowHandle{reinterpret_cast<std::uintptr_t>(window)};
    record.uID = 126;
    record.uFlags = 7;
    record.uCallbackMessage = 1124;
    record.hIcon = platform::IconHandle{
        reinterpret_cast<std::uintptr_t>(LoadIconW(nullptr, MAKEINTRESOURCEW(32512)))};
    const char16_t tip[] = u"LS3578 Not Ready";
    std::copy(std::begin(tip), std::end(tip), record.szTip);
    EXPECT_TRUE(platform::Shell_NotifyIconW(NIM_ADD, &record));
    const char16_t ready[] = u"LS3578 ready";
    std::copy(std::begin(ready), std::end(ready), record.szTip);
    EXPECT_TRUE(platform::Shell_NotifyIconW(NIM_MODIFY, &record));
    EXPECT_TRUE(platform::Shell_NotifyIconW(NIM_DELETE, &record));
    // Gone: a second removal has nothing to remove.
    EXPECT_FALSE(platform::Shell_NotifyIconW(NIM_DELETE, &record));
    DestroyWindow(window);
}

}  // namespace
