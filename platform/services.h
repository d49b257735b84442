// The operating-system services the program's core calls, one function per
// operation, named and ordered as the Windows calls they stand for. The core
// includes this header and never an OS header; each backend folder
// (win32/, sim/, linux/) implements it with the same file names.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/codes.h"

namespace platform {

// One handle type per kind of object, so that a port cannot be passed where a
// thread is meant and each kind has its own close. Each is one machine word,
// so that threads can share it through an atomic.
enum class FileHandle : std::uintptr_t {};
enum class PortHandle : std::uintptr_t {};
enum class EventHandle : std::uintptr_t {};
enum class ThreadHandle : std::uintptr_t {};
enum class WindowHandle : std::uintptr_t {};
enum class IconHandle : std::uintptr_t {};

inline constexpr FileHandle kInvalidFile{~std::uintptr_t{0}};  // INVALID_HANDLE_VALUE
inline constexpr PortHandle kNoPort{0};
inline constexpr PortHandle kInvalidPort{~std::uintptr_t{0}};  // INVALID_HANDLE_VALUE
inline constexpr EventHandle kNoEvent{0};
inline constexpr ThreadHandle kNoThread{0};
inline constexpr WindowHandle kNoWindow{0};
inline constexpr IconHandle kNoIcon{0};

// Error codes, virtual keys and text capacities: platform/codes.h.

std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

// ---------------------------------------------------------------------------
// Files. The settings engine does its own text decoding (UTF-8, line ends), so
// the platform only moves bytes. Failures return kInvalidFile / false / -1
// and leave the reason in GetLastError().

// The running executable's full path, terminated; returns its length
// (0 on failure). Stands for GetModuleFileNameW(NULL, buffer, size).
std::uint32_t GetModuleFileNameW(char16_t* buffer, std::uint32_t size);

// A folder fails with kErrorDirectory, now or at the first read. Anything
// else that is no regular file (a pipe, a device, a socket) fails with
// kErrorBadFileType without being waited on: a read from it could block or
// never end.
FileHandle OpenFileForReading(const char16_t* path);
// Creates a new, empty file for writing (CreateFileW with CREATE_NEW). Never
// opens or empties what is already there and never follows a link: anything
// at `path`, a link or a dangling link included, fails with
// kErrorFileExists.
FileHandle CreateNewFile(const char16_t* path);
// Reads give 0 at the end and -1 on an error; a write writes all or fails.
std::int32_t ReadFileBytes(FileHandle file, void* buffer, std::uint32_t size);
bool WriteFileBytes(FileHandle file, const void* data, std::uint32_t size);
bool FlushFileToDisk(FileHandle file);
bool CloseFile(FileHandle file);
// Puts `from` in place of `to` in one atomic step: at every moment `to` is
// either the old file or the new one.
bool ReplaceFileAtomically(const char16_t* from, const char16_t* to);
bool DeleteFileW(const char16_t* path);
// The path of the file that `path` names once every symbolic link on it is
// followed (GetFinalPathNameByHandleW); a path that is no link comes back as
// it is. Returns its length, 0 on failure, `size` or more when it does not fit.
std::uint32_t GetFinalPathNameW(const char16_t* path, char16_t* buffer, std::uint32_t size);
// Part of the temporary names, so that two processes do not pick the same.
std::uint32_t GetCurrentProcessId();
// An advisory lock that our own processes (the program, quorvel-ini) take
// around each rewrite of the settings file, so that none loses another's
// change (LockFileEx, flock); other programs ignore it. Opens the file at
// `path`, creating it if need be, and waits up to `milliseconds` until it is
// ours alone: kInvalidFile with kErrorSharingViolation when another holder
// keeps it longer, or with the open's own code.
FileHandle OpenLockedFile(const char16_t* path, std::uint32_t milliseconds);
// Releases the lock and closes the file.
bool CloseLockedFile(FileHandle lock);
// Calls `found` with the name of each entry of the folder `path` leads to
// (the folder part of a file's path, up to its last separator; the current
// folder when there is none) whose name begins with `prefix`
// (FindFirstFileW/FindNextFileW on "<folder><prefix>*").
using FoundFileName = void (*)(const char16_t* name, void* context);
void FindFilesBeside(const char16_t* path, const char16_t* prefix, FoundFileName found,
                     void* context);
// Whether `path` names a regular file of our own (lstat: no link, owned by
// this process's user), the only kind a clean-up of ours may delete.
bool IsOwnRegularFile(const char16_t* path);
// Whether we run elevated (as administrator) while a process without those
// rights can change the file at `path` or replace it in its folder: what such
// a file says, an unelevated program decides. False when it cannot be told,
// and on systems without elevation.
bool FileWritableBelowOurRights(const char16_t* path);
// Whether a process with this id is running (OpenProcess and its exit code;
// kill(pid, 0)): a leftover file named after one that is not may go.
bool IsProcessRunning(std::uint32_t processId);

// ---------------------------------------------------------------------------
// Message boxes.
inline constexpr std::uint32_t kMbOk = 0;
inline constexpr std::int32_t kIdOk = 1;
inline constexpr std::int32_t kIdCancel = 2;

// Blocks the calling thread until the user dismisses the box. `owner` may be
// kNoWindow; `caption` may be null (no caption of its own).
std::int32_t MessageBoxW(WindowHandle owner, const char16_t* text, const char16_t* caption,
                         std::uint32_t type);
// Makes a message box that `thread` is showing return as if dismissed, so a
// quitting program never waits on a box nobody will answer.
void DismissMessageBoxes(ThreadHandle thread);

// ---------------------------------------------------------------------------
// Serial port.
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kOpenExisting = 3;
inline constexpr std::uint32_t kEvRxChar = 0x0001;
// EscapeCommFunction's functions and GetCommModemStatus's lines.
inline constexpr std::uint32_t kSetRts = 3;
inline constexpr std::uint32_t kClrRts = 4;
inline constexpr std::uint32_t kSetDtr = 5;
inline constexpr std::uint32_t kClrDtr = 6;
inline constexpr std::uint32_t kMsCtsOn = 0x0010;
inline constexpr std::uint32_t kMsDsrOn = 0x0020;
inline constexpr std::uint32_t kMsRingOn = 0x0040;
inline constexpr std::uint32_t kMsRlsdOn = 0x0080;
inline constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

inline constexpr std::uint8_t kNoParity = 0;
inline constexpr std::uint8_t kOddParity = 1;
inline constexpr std::uint8_t kEvenParity = 2;
inline constexpr std::uint8_t kMarkParity = 3;
inline constexpr std::uint8_t kSpaceParity = 4;
inline constexpr std::uint8_t kOneStopBit = 0;
inline constexpr std::uint8_t kOne5StopBits = 1;
inline constexpr std::uint8_t kTwoStopBits = 2;
inline constexpr std::uint32_t kDtrControlDisable = 0;
inline constexpr std::uint32_t kDtrControlEnable = 1;
inline constexpr std::uint32_t kRtsControlDisable = 0;
inline constexpr std::uint32_t kRtsControlEnable = 1;

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

// Opens a serial device by its "COMn:" name. kInvalidPort on failure, with
// kErrorDevNotExist (55) when no such device is there.
PortHandle CreateFileW(const char16_t* name, std::uint32_t access, std::uint32_t shareMode,
                       std::uint32_t creation, std::uint32_t flags);
bool SetCommMask(PortHandle port, std::uint32_t mask);
bool SetCommTimeouts(PortHandle port, const CommTimeouts& timeouts);
bool GetCommState(PortHandle port, Dcb& dcb);
bool SetCommState(PortHandle port, const Dcb& dcb);
// Blocks until an event of the mask occurs; fails when the port fails or its
// handle is closed by another thread.
bool WaitCommEvent(PortHandle port, std::uint32_t* eventMask);
bool ReadFile(PortHandle port, void* buffer, std::uint32_t toRead, std::uint32_t* bytesRead);
bool EscapeCommFunction(PortHandle port, std::uint32_t function);
bool GetCommModemStatus(PortHandle port, std::uint32_t* status);
// Closes a port. A wait or read pending on it in another thread returns
// (fails) before the handle is released.
bool CloseHandle(PortHandle port);

// The highest n of "COMn" that Windows gives a port.
inline constexpr std::int32_t kHighestComPort = 256;

// The numbers n (1 to kHighestComPort) of the serial ports present on this
// machine, ascending, at most `capacity` of them; returns how many. Windows:
// the ports its drivers registered; Linux: what COMn resolves to (the devices
// present, the settings folder's ports/comN links); the simulator: its
// attached devices.
std::int32_t ListPresentSerialPorts(std::int32_t* ports, std::int32_t capacity);

// What the dialog's Port list shows after the number n: where COMn leads on
// Linux ("  /dev/ttyACM0 (usb-...)", "  (no device)"), the device's name on
// Windows (" - USB Serial Device") and in the simulator, where there is one.
// Appended to the terminated `text` (capacity in units, cut to fit). The
// number stays first: the list is searched by it.
void AppendPortDescription(std::int32_t port, char16_t* text, std::size_t capacity);

// ---------------------------------------------------------------------------
// Keyboard input.
inline constexpr std::uint32_t kKeyEventFExtendedKey = 0x0001;
inline constexpr std::uint32_t kKeyEventFKeyUp = 0x0002;
inline constexpr std::uint32_t kKeyEventFSilent = 0x0004;
// A key named by its scan code alone (KEYEVENTF_SCANCODE): Windows ignores
// wVk (Wine 8 does the opposite: it types wVk and ignores the code).
inline constexpr std::uint32_t kKeyEventFScanCode = 0x0008;

// One synthetic key event into the keyboard input of the focused application.
void keybd_event(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags,
                 std::uintptr_t extraInfo);

// What one keyboard-table entry types: its key at its level, and the character
// of the table's byte. A backend that has to find the keys on a layout of its
// own (Linux: the VK_OEM_* keys) places each key where that character is;
// Windows and the simulator need nothing (no-op there).
struct KeyHint {
    std::uint8_t virtualKey;
    bool shift;
    bool altGr;
    char32_t character;
};
// Called after each table load, before reception starts; the hints are copied.
void SetKeyHints(const KeyHint* hints, std::size_t count);

// Takes this run's record of what its key events change (keys held down, Caps
// Lock switched off for a line), kept as they happen in a small fixed-size
// file of the user's, after first giving back what a run that ended without
// letting go left (killed, crashed): its keys released, Caps Lock switched
// back. Called once, by the one instance, before reception starts. A backend
// whose output claims its record by itself when it opens (Linux) does nothing.
void ClaimKeyRecord();

// ---------------------------------------------------------------------------
// Keyboard layouts: what a key types on the layout of the focused window, and
// the character itself for what no key types.
using KeyboardLayout = std::uintptr_t;  // a layout's identity (HKL); 0: none known

// MapVirtualKeyExW's translation from a virtual key to its scan code; the
// _EX form gives an extended key's code with 0xE0 (or 0xE1) in its high byte.
inline constexpr std::uint32_t kMapVkVkToVsc = 0;
inline constexpr std::uint32_t kMapVkVkToVscEx = 4;
// VkKeyScanExW's modifier bits (in its high byte).
inline constexpr std::uint16_t kVkScanShift = 0x0100;
inline constexpr std::uint16_t kVkScanControl = 0x0200;
inline constexpr std::uint16_t kVkScanAlt = 0x0400;
// An input carrying a character rather than a key (KEYEVENTF_UNICODE).
inline constexpr std::uint32_t kKeyEventFUnicode = 0x0004;

// The window that has the keyboard focus, the thread that owns a window, and
// that thread's keyboard layout.
WindowHandle GetForegroundWindow();
std::uint32_t GetWindowThreadProcessId(WindowHandle window, std::uint32_t* processId);
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
// Bit 0x8000: the key is down; bit 0x0001: it is toggled on (Caps Lock), as
// the focused window's thread sees it.
std::int16_t GetKeyState(std::int32_t virtualKey);

// Whether key events sent now can reach the window that has the focus.
// Windows drops, without a word, input sent to a process running at a higher
// integrity level than ours (a program run as administrator), and input sent
// while no window has the focus (the secure desktop of an elevation prompt,
// the lock screen, a desktop switch). For a window above us, `program` gets
// its executable name (file name only, cut to fit; empty when it cannot be
// read); otherwise it is emptied. Elsewhere the answer is kReached.
enum class KeystrokeReach { kReached, kWindowAbove, kNoFocus };
KeystrokeReach KeystrokesReachForegroundWindow(char16_t* program, std::size_t capacity);

// Whether SEND_MODE's other ways of sending apply to this keystroke output:
// characters as input packets of their own and keys by scan code alone, as
// Windows' SendInput takes them. Linux answers no (XTest and uinput place
// every key on the layout in use), and keys are sent as keys there.
bool SendModesApply();

// One input of SendInput: a key event, or with kKeyEventFUnicode a character
// (wVk 0, wScan the UTF-16 unit).
struct KeyboardInput {
    std::uint16_t wVk = 0;
    std::uint16_t wScan = 0;
    std::uint32_t dwFlags = 0;
};
// Returns how many inputs were sent.
std::uint32_t SendInput(std::uint32_t count, const KeyboardInput* inputs);
// The characters a line is about to send through SendInput, in order, before
// its first key event: a backend that must make each typable first (X: a spare
// key code bound to it) does it for the whole line at once. No-op elsewhere.
void PrepareCharacters(const char16_t* characters, std::size_t count);

// ---------------------------------------------------------------------------
// Threads, events and timing.
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

using ThreadProc = std::uint32_t (*)(void* parameter);

// Runs `proc` on a new thread at once; kNoThread on failure.
ThreadHandle CreateThread(ThreadProc proc, void* parameter, std::uint32_t* threadId);
// Events: a named event that already exists gives its handle and
// kErrorAlreadyExists in GetLastError(); kNoEvent on failure.
EventHandle CreateEventW(bool manualReset, bool initialState, const char16_t* name);
bool SetEvent(EventHandle event);
// Waits for an event to be signalled or a thread to end.
std::uint32_t WaitForSingleObject(EventHandle event, std::uint32_t milliseconds);
std::uint32_t WaitForSingleObject(ThreadHandle thread, std::uint32_t milliseconds);
bool CloseHandle(EventHandle event);
bool CloseHandle(ThreadHandle thread);
void Sleep(std::uint32_t milliseconds);

// ---------------------------------------------------------------------------
// Shell: tray icon and icons.
inline constexpr std::uint32_t kNimAdd = 0;
inline constexpr std::uint32_t kNimModify = 1;
inline constexpr std::uint32_t kNimDelete = 2;
inline constexpr std::uint32_t kNifMessage = 1;
inline constexpr std::uint32_t kNifIcon = 2;
inline constexpr std::uint32_t kNifTip = 4;

struct NotifyIconData {
    std::uint32_t cbSize = 0;
    WindowHandle hWnd = kNoWindow;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    IconHandle hIcon = kNoIcon;
    char16_t szTip[64] = {};
};

bool Shell_NotifyIconW(std::uint32_t message, const NotifyIconData* data);
// A negative index names an icon resource id. Returns the number of icons
// extracted.
std::uint32_t ExtractIconExW(const char16_t* file, std::int32_t index, IconHandle* largeIcons,
                             IconHandle* smallIcons, std::uint32_t icons);

}  // namespace platform
