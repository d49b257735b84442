// The serial port on the real Windows API, shaped to what the reception thread
// relies on: a wait that blocks until a character has arrived, a close from
// another thread that wakes that wait at once, and a pulled cable that fails
// the wait instead of spinning. Wine's synchronous comm calls give none of
// that (its WaitCommEvent returns at once, its reads ignore CloseHandle), so
// every port is opened overlapped and the waits are built from overlapped
// one-byte reads that a close cancels.
#include "platform/services.h"

#include <windows.h>

#include <setupapi.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>

namespace platform {

namespace {

// A port handle is the open's slot and a generation count, so that a stale
// handle (of a port closed since) is refused instead of touching the port
// that took its slot.
using Word = std::uintptr_t;
constexpr Word kClosingBit = Word{1} << 47;
constexpr Word kSlotMask = 0xFF;
constexpr Word kReserved = 1;  // a slot being filled by an open
constexpr std::size_t kSlots = 16;
static_assert(sizeof(Word) == 8, "port handles need a 64-bit word");

// How long a port that fails by itself keeps its reader waiting before the
// failure is reported: a device that opens but fails every read must not turn
// the reception thread's open/close cycle into a busy loop.
constexpr DWORD kDeviceFailurePauseMs = 250;

struct PortSlot {
    // 0 free, kReserved while an open fills the slot, the handle while open,
    // the handle with kClosingBit while a close drains it.
    std::atomic<Word> id{0};
    // Calls in progress on this port; a close waits for them to leave.
    std::atomic<int> users{0};
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE wake = nullptr;    // manual reset; set by the close
    HANDLE ioDone = nullptr;  // completion of the reader's overlapped read
    OVERLAPPED overlapped{};
    DWORD mask = 0;
    COMMTIMEOUTS timeouts{};  // what the caller asked for; the device runs without
    // The byte whose arrival ended a wait, handed back by the next read.
    // Waits and reads come from one reader thread at a time.
    bool hasByte = false;
    unsigned char byte = 0;
};

PortSlot slots[kSlots];
std::atomic<Word> nextGeneration{1};

// The slot a handle names; null for a word no open ever gave (no generation,
// or the closing bit set).
PortSlot* SlotOf(PortHandle handle) {
    const Word word = static_cast<Word>(handle);
    const Word index = word & kSlotMask;
    if ((word >> 8) == 0 || (word & kClosingBit) != 0 || index >= kSlots) return nullptr;
    return &slots[index];
}

// Takes a reference on an open port, or fails with kErrorInvalidHandle.
class PortUse {
  public:
    explicit PortUse(PortHandle handle) : slot_(SlotOf(handle)) {
        if (!slot_) return;
        slot_->users.fetch_add(1);
        if (slot_->id.load() != static_cast<Word>(handle)) {
            slot_->users.fetch_sub(1);
            slot_ = nullptr;
        }
    }
    ~PortUse() {
        if (slot_) slot_->users.fetch_sub(1);
    }
    PortUse(const PortUse&) = delete;
    PortUse& operator=(const PortUse&) = delete;

    PortSlot* get() const { return slot_; }
    bool Failed() const {
        if (slot_) return false;
        ::SetLastError(kErrorInvalidHandle);
        return true;
    }

  private:
    PortSlot* slot_;
};

// "COMn:" names the device as a DOS device; only the "\\.\COMn" form opens
// ports above 9, so every name goes through it.
void DevicePath(const char16_t* name, wchar_t (&path)[64]) {
    std::size_t out = 0;
    if (!(name[0] == u'\\' && name[1] == u'\\')) {
        for (const wchar_t* p = L"\\\\.\\"; *p; ++p) path[out++] = *p;
    }
    for (; *name && out + 1 < std::size(path); ++name) {
        if (*name == u':' && name[1] == 0) break;
        path[out++] = static_cast<wchar_t>(*name);
    }
    path[out] = 0;
}

// A port whose device is not there: Windows and Wine say "file not found",
// a device on its way out says "no such device" or "not connected".
bool MeansDeviceMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == kErrorNoSuchDevice || error == ERROR_DEVICE_NOT_CONNECTED;
}

// Ends the slot's overlapped read, cancelling it first when it is still
// pending. Returns the read's own result and byte count.
bool FinishRead(PortSlot& slot, bool cancel, DWORD& transferred) {
    if (cancel) ::CancelIoEx(slot.file, &slot.overlapped);
    transferred = 0;
    return ::GetOverlappedResult(slot.file, &slot.overlapped, &transferred, TRUE) != FALSE;
}

// Starts an overlapped read of `size` bytes and waits up to `waitMs` for it.
// Returns WAIT_OBJECT_0 (the read ended), WAIT_OBJECT_0 + 1 (the port is being
// closed), WAIT_TIMEOUT, or WAIT_FAILED when the read could not even start.
DWORD StartAndAwaitRead(PortSlot& slot, void* buffer, DWORD size, DWORD waitMs) {
    ::ResetEvent(slot.ioDone);
    slot.overlapped = OVERLAPPED{};
    slot.overlapped.hEvent = slot.ioDone;
    if (!::ReadFile(slot.file, buffer, size, nullptr, &slot.overlapped) &&
        ::GetLastError() != ERROR_IO_PENDING) {
        return WAIT_FAILED;
    }
    const HANDLE objects[2] = {slot.ioDone, slot.wake};
    return ::WaitForMultipleObjects(2, objects, FALSE, waitMs);
}

// How long a read of `size` bytes may wait, from the caller's timeouts.
DWORD ReadWaitMs(const COMMTIMEOUTS& t, DWORD size) {
    if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
        t.ReadTotalTimeoutConstant == 0) {
        return 0;  // return at once with whatever is there
    }
    const unsigned long long total =
        static_cast<unsigned long long>(
            t.ReadTotalTimeoutMultiplier == MAXDWORD ? 0 : t.ReadTotalTimeoutMultiplier) *
            size +
        t.ReadTotalTimeoutConstant;
    if (total == 0) return INFINITE;
    return total >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(total);
}

// Reports a device failure after a short pause that a close cuts short.
bool DeviceFailed(PortSlot& slot, DWORD error) {
    ::WaitForSingleObject(slot.wake, kDeviceFailurePauseMs);
    ::SetLastError(error);
    return false;
}

}  // namespace

// Wakes every wait or read pending on the port in other threads, waits until
// they have left, then releases the port. False when the port is not open
// (already closed, or never was).
bool CloseHandle(PortHandle handle) {
    PortSlot* slot = SlotOf(handle);
    Word expected = static_cast<Word>(handle);
    // One closer per open: the other thread's close finds the bit set and fails.
    if (!slot || !slot->id.compare_exchange_strong(expected, expected | kClosingBit)) {
        ::SetLastError(kErrorInvalidHandle);
        return false;
    }
    // The wake event is set before the cancel, so a reader that starts its read
    // after the cancel still finds it set and gives up at once.
    ::SetEvent(slot->wake);
    ::CancelIoEx(slot->file, nullptr);
    while (slot->users.load() != 0) {
        ::Sleep(1);
        ::CancelIoEx(slot->file, nullptr);
    }
    ::CloseHandle(slot->file);
    ::CloseHandle(slot->wake);
    ::CloseHandle(slot->ioDone);
    slot->file = INVALID_HANDLE_VALUE;
    slot->wake = slot->ioDone = nullptr;
    slot->id.store(0);
    return true;
}

PortHandle CreateFileW(const char16_t* name, std::uint32_t access, std::uint32_t shareMode,
                       std::uint32_t creation, std::uint32_t flags) {
    wchar_t path[64];
    DevicePath(name, path);
    const HANDLE file = ::CreateFileW(path, access, shareMode, nullptr, creation,
                                      flags | FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        ::SetLastError(MeansDeviceMissing(error) ? kErrorDevNotExist : error);
        return kInvalidPort;
    }
    for (std::size_t i = 0; i < kSlots; ++i) {
        PortSlot& slot = slots[i];
        Word free = 0;
        if (!slot.id.compare_exchange_strong(free, kReserved)) continue;
        slot.file = file;
        slot.wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        slot.ioDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!slot.wake || !slot.ioDone) {
            const DWORD error = ::GetLastError();
            if (slot.wake) ::CloseHandle(slot.wake);
            if (slot.ioDone) ::CloseHandle(slot.ioDone);
            slot.wake = slot.ioDone = nullptr;
            ::CloseHandle(file);
            slot.id.store(0);
            ::SetLastError(error);
            return kInvalidPort;
        }
        slot.hasByte = false;
        slot.mask = 0;
        // The device itself runs without read timeouts, so that a read stays
        // pending until a byte comes; the caller's timeouts are applied by
        // ReadFile below.
        slot.timeouts = COMMTIMEOUTS{};
        COMMTIMEOUTS none{};
        ::SetCommTimeouts(file, &none);
        // Generation 1 and up: no handle is 0, and none has the closing bit.
        const Word generation = ((nextGeneration.fetch_add(1) - 1) % 0x7FFFFFFFFFull) + 1;
        const Word handle = (generation << 8) | i;
        slot.id.store(handle);
        return PortHandle{handle};
    }
    ::CloseHandle(file);
    ::SetLastError(kErrorTooManyOpenFiles);
    return kInvalidPort;
}

bool SetCommMask(PortHandle port, std::uint32_t mask) {
    PortUse use(port);
    if (use.Failed()) return false;
    use.get()->mask = mask;
    return ::SetCommMask(use.get()->file, mask) != FALSE;
}

bool SetCommTimeouts(PortHandle port, const CommTimeouts& timeouts) {
    PortUse use(port);
    if (use.Failed()) return false;
    COMMTIMEOUTS& t = use.get()->timeouts;
    t.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    t.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    return true;
}

bool GetCommState(PortHandle port, Dcb& dcb) {
    PortUse use(port);
    if (use.Failed()) return false;
    DCB d{};
    d.DCBlength = sizeof d;
    if (!::GetCommState(use.get()->file, &d)) return false;
    dcb.BaudRate = d.BaudRate;
    dcb.fBinary = d.fBinary;
    dcb.fParity = d.fParity;
    dcb.fOutxCtsFlow = d.fOutxCtsFlow;
    dcb.fOutxDsrFlow = d.fOutxDsrFlow;
    dcb.fDtrControl = d.fDtrControl;
    dcb.fDsrSensitivity = d.fDsrSensitivity;
    dcb.fTXContinueOnXoff = d.fTXContinueOnXoff;
    dcb.fOutX = d.fOutX;
    dcb.fInX = d.fInX;
    dcb.fErrorChar = d.fErrorChar;
    dcb.fNull = d.fNull;
    dcb.fRtsControl = d.fRtsControl;
    dcb.fAbortOnError = d.fAbortOnError;
    dcb.XonLim = d.XonLim;
    dcb.XoffLim = d.XoffLim;
    dcb.ByteSize = d.ByteSize;
    dcb.Parity = d.Parity;
    dcb.StopBits = d.StopBits;
    dcb.XonChar = d.XonChar;
    dcb.XoffChar = d.XoffChar;
    dcb.ErrorChar = d.ErrorChar;
    dcb.EofChar = d.EofChar;
    dcb.EvtChar = d.EvtChar;
    return true;
}

bool SetCommState(PortHandle port, const Dcb& dcb) {
    PortUse use(port);
    if (use.Failed()) return false;
    // Start from the driver's block so that fields the seam does not carry
    // keep the driver's values.
    DCB d{};
    d.DCBlength = sizeof d;
    ::GetCommState(use.get()->file, &d);
    d.DCBlength = sizeof d;
    d.BaudRate = dcb.BaudRate;
    d.fBinary = dcb.fBinary & 1u;
    d.fParity = dcb.fParity & 1u;
    d.fOutxCtsFlow = dcb.fOutxCtsFlow & 1u;
    d.fOutxDsrFlow = dcb.fOutxDsrFlow & 1u;
    d.fDtrControl = dcb.fDtrControl & 3u;
    d.fDsrSensitivity = dcb.fDsrSensitivity & 1u;
    d.fTXContinueOnXoff = dcb.fTXContinueOnXoff & 1u;
    d.fOutX = dcb.fOutX & 1u;
    d.fInX = dcb.fInX & 1u;
    d.fErrorChar = dcb.fErrorChar & 1u;
    d.fNull = dcb.fNull & 1u;
    d.fRtsControl = dcb.fRtsControl & 3u;
    d.fAbortOnError = dcb.fAbortOnError & 1u;
    d.XonLim = dcb.XonLim;
    d.XoffLim = dcb.XoffLim;
    d.ByteSize = dcb.ByteSize;
    d.Parity = dcb.Parity;
    d.StopBits = dcb.StopBits;
    d.XonChar = dcb.XonChar;
    d.XoffChar = dcb.XoffChar;
    d.ErrorChar = dcb.ErrorChar;
    d.EofChar = dcb.EofChar;
    d.EvtChar = dcb.EvtChar;
    return ::SetCommState(use.get()->file, &d) != FALSE;
}

bool WaitCommEvent(PortHandle port, std::uint32_t* eventMask) {
    if (eventMask) *eventMask = 0;
    PortUse use(port);
    if (use.Failed()) return false;
    PortSlot& slot = *use.get();
    if (slot.mask == 0) {
        ::SetLastError(kErrorInvalidParameter);
        return false;
    }
    if (!(slot.mask & EV_RXCHAR)) {
        // Only character arrival is watched for; any other mask waits for the close.
        ::WaitForSingleObject(slot.wake, INFINITE);
        ::SetLastError(kErrorOperationAborted);
        return false;
    }
    if (!slot.hasByte) {
        const DWORD woke = StartAndAwaitRead(slot, &slot.byte, 1, INFINITE);
        if (woke == WAIT_FAILED) return DeviceFailed(slot, ::GetLastError());
        DWORD got = 0;
        const bool ok = FinishRead(slot, woke != WAIT_OBJECT_0, got);
        const DWORD error = ok ? 0 : ::GetLastError();
        if (woke != WAIT_OBJECT_0) {
            ::SetLastError(kErrorOperationAborted);
            return false;
        }
        // Without read timeouts on the device, a read that ends with nothing
        // means the line is gone (a closed pty ends reads this way, or with 109).
        if (!ok) return DeviceFailed(slot, error);
        if (got != 1) return DeviceFailed(slot, kErrorBrokenPipe);
        slot.hasByte = true;
    }
    if (eventMask) *eventMask = EV_RXCHAR;
    return true;
}

bool ReadFile(PortHandle port, void* buffer, std::uint32_t toRead, std::uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    PortUse use(port);
    if (use.Failed()) return false;
    PortSlot& slot = *use.get();
    if (toRead == 0) return true;
    if (slot.hasByte) {
        // The byte that ended the last wait comes first, and alone.
        *static_cast<unsigned char*>(buffer) = slot.byte;
        slot.hasByte = false;
        if (bytesRead) *bytesRead = 1;
        return true;
    }
    const DWORD woke = StartAndAwaitRead(slot, buffer, toRead, ReadWaitMs(slot.timeouts, toRead));
    if (woke == WAIT_FAILED) return false;
    DWORD got = 0;
    const bool ok = FinishRead(slot, woke != WAIT_OBJECT_0, got);
    const DWORD error = ok ? 0 : ::GetLastError();
    if (woke == WAIT_OBJECT_0 + 1) {
        ::SetLastError(kErrorOperationAborted);
        return false;
    }
    if (woke == WAIT_TIMEOUT && (ok || error == ERROR_OPERATION_ABORTED)) {
        // The timeout ran out: whatever arrived before the cancel is the result.
        if (bytesRead) *bytesRead = got;
        return true;
    }
    if (!ok) {
        ::SetLastError(error);
        return false;
    }
    if (bytesRead) *bytesRead = got;
    return true;
}

bool EscapeCommFunction(PortHandle port, std::uint32_t function) {
    PortUse use(port);
    if (use.Failed()) return false;
    return ::EscapeCommFunction(use.get()->file, function) != FALSE;
}

bool GetCommModemStatus(PortHandle port, std::uint32_t* status) {
    PortUse use(port);
    if (use.Failed()) return false;
    DWORD s = 0;
    const bool ok = ::GetCommModemStatus(use.get()->file, &s) != FALSE;
    if (status) *status = ok ? s : 0;
    return ok;
}

namespace {

// The names of the ports present, as the last listing found them. Filled and
// read on the dialog thread only.
struct PresentPortNames {
    wchar_t name[kHighestComPort + 1][128] = {};
};
PresentPortNames presentNames;

// n of "COMn" (1 to kHighestComPort), else 0.
std::int32_t ComNumber(const wchar_t* text) {
    if (std::wcsncmp(text, L"COM", 3) != 0 || text[3] < L'1' || text[3] > L'9') return 0;
    std::int32_t n = 0;
    for (const wchar_t* p = text + 3; *p; ++p) {
        if (*p < L'0' || *p > L'9' || n > kHighestComPort) return 0;
        n = n * 10 + (*p - L'0');
    }
    return n <= kHighestComPort ? n : 0;
}

// The friendly names SetupAPI gives the devices of the Ports class ("USB
// Serial Device (COM7)"), kept without the "(COMn)" the list already shows.
void ReadFriendlyNames() {
    for (auto& name : presentNames.name) name[0] = 0;
    static const GUID kPortsClass = {
        0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
    HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        wchar_t portName[16] = {};
        DWORD size = sizeof portName - sizeof(wchar_t);
        DWORD type = 0;
        const bool named =
            RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName),
                             &size) == ERROR_SUCCESS &&
            type == REG_SZ;
        RegCloseKey(key);
        const std::int32_t n = named ? ComNumber(portName) : 0;
        if (n == 0) continue;
        wchar_t* name = presentNames.name[n];
        if (!SetupDiGetDeviceRegistryPropertyW(
                set, &device, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE*>(name),
                sizeof presentNames.name[n] - sizeof(wchar_t), nullptr)) {
            name[0] = 0;
            continue;
        }
        name[std::size(presentNames.name[n]) - 1] = 0;
        const std::size_t length = std::wcslen(name);
        const std::size_t suffix = std::wcslen(portName) + 3;  // " (" and ")"
        if (length > suffix && name[length - 1] == L')' &&
            std::wcsncmp(name + length - suffix, L" (", 2) == 0 &&
            std::wcsncmp(name + length - suffix + 2, portName, suffix - 3) == 0)
            name[length - suffix] = 0;
    }
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

// The ports present are those the serial drivers registered in SERIALCOMM
// (value data "COMn"). Wine registers there, as its server starts, the ports
// HKLM\Software\Wine\Ports names; a dosdevices link alone it never lists.
std::int32_t ListPresentSerialPorts(std::int32_t* ports, std::int32_t capacity) {
    ReadFriendlyNames();
    bool present[kHighestComPort + 1] = {};
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            wchar_t valueName[256];
            DWORD nameLength = std::size(valueName);
            wchar_t data[16] = {};
            DWORD size = sizeof data - sizeof(wchar_t);
            DWORD type = 0;
            const LONG result = RegEnumValueW(key, i, valueName, &nameLength, nullptr, &type,
                                              reinterpret_cast<BYTE*>(data), &size);
            if (result == ERROR_NO_MORE_ITEMS) break;
            if (result != ERROR_SUCCESS || type != REG_SZ) continue;
            present[ComNumber(data)] = true;
        }
        RegCloseKey(key);
    }
    // A DOS device COMn is present too: SERIALCOMM is written when drivers
    // start, and a port may be defined after that.
    for (std::int32_t n = 1; n <= kHighestComPort; ++n) {
        if (present[n]) continue;
        wchar_t device[16];
        std::swprintf(device, std::size(device), L"COM%d", static_cast<int>(n));
        wchar_t target[512];
        present[n] = QueryDosDeviceW(device, target, std::size(target)) != 0;
    }
    // A device SetupAPI names is present even where SERIALCOMM lags behind.
    std::int32_t count = 0;
    for (std::int32_t n = 1; n <= kHighestComPort && count < capacity; ++n)
        if (present[n] || presentNames.name[n][0] != 0) ports[count++] = n;
    return count;
}

// After the number: " - " and the device's name, where Windows gives one.
void AppendPortDescription(std::int32_t port, char16_t* text, std::size_t capacity) {
    if (port < 1 || port > kHighestComPort || presentNames.name[port][0] == 0) return;
    std::size_t used = 0;
    while (text[used] != 0) ++used;
    const wchar_t* parts[] = {L" - ", presentNames.name[port]};
    for (const wchar_t* part : parts)
        for (; *part != 0 && used + 1 < capacity; ++part)
            text[used++] = static_cast<char16_t>(*part);
    if (used < capacity) text[used] = 0;
}

}  // namespace platform
