// The operating-system services the program's core calls, one function per
// operation, named and ordered as the Windows calls they stand for. The core
// includes this header and never an OS header; each backend folder
// (win32/, sim/, linux/) implements it with the same file names.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// A handle is one machine word so that threads can share it through an atomic.
using Handle = std::uintptr_t;
inline constexpr Handle kNoHandle = 0;
inline constexpr Handle kInvalidHandle = ~Handle{0};  // INVALID_HANDLE_VALUE

// Error codes the core acts on or reports.
inline constexpr std::uint32_t ERROR_SUCCESS = 0;
inline constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t ERROR_WRITE_FAULT = 29;
inline constexpr std::uint32_t ERROR_DEV_NOT_EXIST = 55;
inline constexpr std::uint32_t ERROR_DISK_FULL = 112;
inline constexpr std::uint32_t ERROR_ALREADY_EXISTS = 183;

std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

// ---------------------------------------------------------------------------
// Files. The settings engine does its own text decoding (UTF-8, line ends), so
// the platform only moves bytes. Failures return kInvalidHandle / false / -1
// and leave the reason in GetLastError().

// The running executable's full path, terminated; returns its length
// (0 on failure). Stands for GetModuleFileNameW(NULL, buffer, size).
std::uint32_t GetModuleFileNameW(char16_t* buffer, std::uint32_t size);

Handle OpenFileForReading(const char16_t* path);
Handle CreateFileForWriting(const char16_t* path);  // creates, or empties an existing file
std::int32_t ReadFileBytes(Handle file, void* buffer, std::uint32_t size);  // 0 at end, -1 on error
bool WriteFileBytes(Handle file, const void* data, std::uint32_t size);     // all or failure
bool FlushFileToDisk(Handle file);
bool CloseFile(Handle file);
// Puts `from` in place of `to` in one atomic step: at every moment `to` is
// either the old file or the new one.
bool ReplaceFileAtomically(const char16_t* from, const char16_t* to);
bool DeleteFileW(const char16_t* path);

// ---------------------------------------------------------------------------
// Message boxes.
inline constexpr std::uint32_t MB_OK = 0;
inline constexpr std::int32_t IDOK = 1;
inline constexpr std::int32_t IDCANCEL = 2;

// Blocks the calling thread until the user dismisses the box. `owner` may be
// kNoHandle; `caption` may be null (no caption of its own).
std::int32_t MessageBoxW(Handle owner, const char16_t* text, const char16_t* caption,
                         std::uint32_t type);
// Makes a message box that `thread` is showing return as if dismissed, so a
// quitting program never waits on a box nobody will answer.
void DismissMessageBoxes(Handle thread);

// ---------------------------------------------------------------------------
// Serial port.
inline constexpr std::uint32_t GENERIC_READ = 0x80000000u;
inline constexpr std::uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr std::uint32_t OPEN_EXISTING = 3;
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t SETRTS = 3;
inline constexpr std::uint32_t MS_CTS_ON = 0x0010;
inline constexpr std::uint32_t MAXDWORD = 0xFFFFFFFFu;

inline constexpr std::uint8_t NOPARITY = 0;
inline constexpr std::uint8_t ODDPARITY = 1;
inline constexpr std::uint8_t EVENPARITY = 2;
inline constexpr std::uint8_t MARKPARITY = 3;
inline constexpr std::uint8_t SPACEPARITY = 4;
inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t ONE5STOPBITS = 1;
inline constexpr std::uint8_t TWOSTOPBITS = 2;
inline constexpr std::uint32_t DTR_CONTROL_ENABLE = 1;
inline constexpr std::uint32_t RTS_CONTROL_ENABLE = 1;

// The device control block, with the fields of the Windows DCB that the
// program sets or that a driver reports.
struct Dcb {
    std::uint32_t DCBlength = 0;
    std::uint32_t BaudRate = 0;
    std::uint32_t fBinary = 0;
    std::uint32_t fParity = 0;
    std::uint32_t fOutxCtsFlow = 0;
    std::uint32_t fOutxDsrFlow = 0;
    std::uint32_t fDtrControl = 0;
    std::uint32_t fDsrSensitivity = 0;
    std::uint32_t fTXContinueOnXoff = 0;
    std::uint32_t fOutX = 0;
    std::uint32_t fInX = 0;
    std::uint32_t fErrorChar = 0;
    std::uint32_t fNull = 0;
    std::uint32_t fRtsControl = 0;
    std::uint32_t fAbortOnError = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 0;
    std::uint8_t Parity = 0;
    std::uint8_t StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
};

struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

// Opens a serial device by its "COMn:" name. kInvalidHandle on failure, with
// ERROR_DEV_NOT_EXIST (55) when no such device is there.
Handle CreateFileW(const char16_t* name, std::uint32_t access, std::uint32_t shareMode,
                   std::uint32_t creation, std::uint32_t flags);
bool SetCommMask(Handle port, std::uint32_t mask);
bool SetCommTimeouts(Handle port, const CommTimeouts& timeouts);
bool GetCommState(Handle port, Dcb& dcb);
bool SetCommState(Handle port, const Dcb& dcb);
// Blocks until an event of the mask occurs; fails when the port fails or its
// handle is closed by another thread.
bool WaitCommEvent(Handle port, std::uint32_t* eventMask);
bool ReadFile(Handle port, void* buffer, std::uint32_t toRead, std::uint32_t* bytesRead);
bool EscapeCommFunction(Handle port, std::uint32_t function);
bool GetCommModemStatus(Handle port, std::uint32_t* status);
// Closes a port, event or thread handle. A wait or read pending on a port in
// another thread returns (fails) before the handle is released.
bool CloseHandle(Handle handle);

// ---------------------------------------------------------------------------
// Keyboard input.
inline constexpr std::uint32_t KEYEVENTF_KEYUP = 0x0002;
inline constexpr std::uint32_t KEYEVENTF_SILENT = 0x0004;
inline constexpr std::uint8_t VK_SHIFT = 0x10;
inline constexpr std::uint8_t VK_CONTROL = 0x11;
inline constexpr std::uint8_t VK_LMENU = 0xA4;

// One synthetic key event into the keyboard input of the focused application.
void keybd_event(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags,
                 std::uintptr_t extraInfo);

// ---------------------------------------------------------------------------
// Keyboard layouts: what a key types on the layout of the focused window, and
// the character itself for what no key types. The names of these constants
// differ from the Windows ones so that they can sit beside <windows.h>.
using KeyboardLayout = std::uintptr_t;  // a layout's identity (HKL); 0: none known

inline constexpr std::uint8_t kKeyTab = 0x09;
inline constexpr std::uint8_t kKeyReturn = 0x0D;
inline constexpr std::uint8_t kKeyAlt = 0x12;  // either Alt
inline constexpr std::uint8_t kKeyCapsLock = 0x14;
inline constexpr std::uint8_t kKeySpace = 0x20;
// MapVirtualKeyExW's translation from a virtual key to its scan code.
inline constexpr std::uint32_t kMapVkToVsc = 0;
// VkKeyScanExW's modifier bits (in its high byte).
inline constexpr std::uint16_t kVkScanShift = 0x0100;
inline constexpr std::uint16_t kVkScanControl = 0x0200;
inline constexpr std::uint16_t kVkScanAlt = 0x0400;
// An input carrying a character rather than a key (KEYEVENTF_UNICODE).
inline constexpr std::uint32_t kKeyEventUnicode = 0x0004;

// The window that has the keyboard focus, the thread that owns a window, and
// that thread's keyboard layout.
Handle GetForegroundWindow();
std::uint32_t GetWindowThreadProcessId(Handle window, std::uint32_t* processId);
KeyboardLayout GetKeyboardLayout(std::uint32_t threadId);
// The key and modifiers (kVkScan* bits) that type `character` on `layout`;
// -1 when there is none. May name a dead key, and may be wrong: check it
// with ToUnicodeEx.
std::int16_t VkKeyScanExW(char16_t character, KeyboardLayout layout);
// What `virtualKey` types with the keys `keyState` holds down (256 entries,
// bit 0x80 down, bit 0x01 toggled) on `layout`: the number of characters put
// in `buffer`, 0 for none, -1 for a dead key (which then waits for the next
// key, as in the focused window).
std::int32_t ToUnicodeEx(std::uint32_t virtualKey, std::uint32_t scanCode,
                         const std::uint8_t* keyState, char16_t* buffer, std::int32_t bufferSize,
                         std::uint32_t flags, KeyboardLayout layout);
std::uint32_t MapVirtualKeyExW(std::uint32_t code, std::uint32_t mapType, KeyboardLayout layout);
// Bit 0x8000: the key is down; bit 0x0001: it is toggled on (Caps Lock).
std::int16_t GetKeyState(std::int32_t virtualKey);

// One input of SendInput: a key event, or with kKeyEventUnicode a character
// (wVk 0, wScan the UTF-16 unit).
struct KeyboardInput {
    std::uint16_t wVk = 0;
    std::uint16_t wScan = 0;
    std::uint32_t dwFlags = 0;
};
// Returns how many inputs were sent.
std::uint32_t SendInput(std::uint32_t count, const KeyboardInput* inputs);

// ---------------------------------------------------------------------------
// Threads, events and timing.
inline constexpr std::uint32_t WAIT_OBJECT_0 = 0;
inline constexpr std::uint32_t WAIT_TIMEOUT = 258;
inline constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;

using ThreadProc = std::uint32_t (*)(void* parameter);

// Runs `proc` on a new thread at once; kNoHandle on failure.
Handle CreateThread(ThreadProc proc, void* parameter, std::uint32_t* threadId);
// Events: a named event that already exists gives its handle and
// ERROR_ALREADY_EXISTS in GetLastError(); kNoHandle on failure.
Handle CreateEventW(bool manualReset, bool initialState, const char16_t* name);
bool SetEvent(Handle event);
// Waits for an event to be signalled or a thread to end.
std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds);
void Sleep(std::uint32_t milliseconds);

// ---------------------------------------------------------------------------
// Shell: tray icon and icons.
inline constexpr std::uint32_t NIM_ADD = 0;
inline constexpr std::uint32_t NIM_MODIFY = 1;
inline constexpr std::uint32_t NIM_DELETE = 2;
inline constexpr std::uint32_t NIF_MESSAGE = 1;
inline constexpr std::uint32_t NIF_ICON = 2;
inline constexpr std::uint32_t NIF_TIP = 4;

struct NotifyIconData {
    std::uint32_t cbSize = 0;
    Handle hWnd = kNoHandle;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    Handle hIcon = kNoHandle;
    char16_t szTip[64] = {};
};

bool Shell_NotifyIconW(std::uint32_t message, const NotifyIconData* data);
// A negative index names an icon resource id. Returns the number of icons
// extracted.
std::uint32_t ExtractIconExW(const char16_t* file, std::int32_t index, Handle* largeIcons,
                             Handle* smallIcons, std::uint32_t icons);

}  // namespace platform
