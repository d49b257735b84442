// The window that stands for "the application with the focus" in the
// end-to-end tests: it logs every key message it receives, one line each, to
// the file named on its command line, and takes the focus back when it loses it.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

FILE* logFile = nullptr;
bool keepFocus = true;
bool logCapsLock = false;  // after each key release, a line "CAPS 0|1 0 time"

// Seconds since 1970 on the system clock, the clock the tests' own
// timestamps use, so that latencies can be taken across the two.
double Now() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    const unsigned long long ticks =
        (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<double>(ticks - 116444736000000000ull) / 1e7;
}

// One line per message: kind, virtual key or character, scan code, time.
void Log(const char* kind, WPARAM wParam, LPARAM lParam) {
    std::fprintf(logFile, "%s %u %u %.6f\n", kind, static_cast<unsigned>(wParam),
                 static_cast<unsigned>((lParam >> 16) & 0x1FF), Now());
    std::fflush(logFile);
}

LRESULT CALLBACK SinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_KEYDOWN:
            Log("KEYDOWN", wParam, lParam);
            return 0;
        case WM_KEYUP:
            Log("KEYUP", wParam, lParam);
            if (logCapsLock) Log("CAPS", GetKeyState(VK_CAPITAL) & 1, 0);
            return 0;
        case WM_SYSKEYDOWN:
            Log("SYSKEYDOWN", wParam, lParam);
            return 0;
        case WM_SYSKEYUP:
            Log("SYSKEYUP", wParam, lParam);
            return 0;
        case WM_CHAR:
            Log("CHAR", wParam, lParam);
            return 0;
        case WM_SYSCHAR:
            Log("SYSCHAR", wParam, lParam);
            return 0;
        case WM_TIMER:
            if (keepFocus && GetForegroundWindow() != window) {
                SetForegroundWindow(window);
                SetFocus(window);
            }
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: keysink LOGFILE [--no-refocus] [--caps]\n");
        return 2;
    }
    logFile = _wfopen(argv[1], L"a");
    if (!logFile) return 1;
    for (int i = 2; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--no-refocus") == 0) keepFocus = false;
        if (std::wcscmp(argv[i], L"--caps") == 0) logCapsLock = true;
    }

    WNDCLASSW cls{};
    cls.lpfnWndProc = SinkProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"QuorvelKeySink";
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassW(&cls);
    HWND window =
        CreateWindowExW(0, cls.lpszClassName, L"Quorvel Key Sink", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                        400, 300, 320, 200, nullptr, nullptr, cls.hInstance, nullptr);
    if (!window) return 1;
    SetForegroundWindow(window);
    SetFocus(window);
    SetTimer(window, 1, 100, nullptr);
    std::fprintf(logFile, "READY %d\n", GetForegroundWindow() == window ? 1 : 0);
    std::fflush(logFile);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    std::fclose(logFile);
    return 0;
}
