// Test controls of the simulated serial devices "COM1:" to "COM256:": plug and
// unplug them, name them, feed the bytes a scanner would send, inject open failures, set
// CTS, and inspect what the program configured.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/services.h"

namespace platform::sim {

inline constexpr int kSerialDeviceCount = 256;

// The configuration calls an open is followed by, in the order they came.
enum class SerialCall { SetCommMask, SetCommTimeouts, GetCommState, SetCommState };

struct SerialDeviceState {
    bool attached = false;
    bool open = false;
    PortHandle handle = kNoPort;  // the open handle, kNoPort when closed
    std::uint32_t mask = 0;
    CommTimeouts timeouts{};
    Dcb dcb{};                         // what the driver holds now
    std::uint32_t getStateLength = 0;  // DCBlength the last GetCommState was given
    bool rts = false;
    bool dtr = false;
    bool cts = false;
    std::uint32_t openAttempts = 0;
    std::uint32_t opens = 0;
    std::uint32_t closes = 0;
    std::uint32_t setRtsCalls = 0;
    std::uint32_t modemStatusCalls = 0;
    std::uint32_t eventsReported = 0;  // WaitCommEvent calls that returned an event
    std::size_t pendingBytes = 0;
    std::uint32_t access = 0, shareMode = 0, creation = 0, flags = 0;  // last CreateFileW
    std::vector<std::uint64_t> openAttemptTimesUs;                     // the first 1000
    std::vector<SerialCall> callsSinceOpen;
};

// Every device detached and closed, counters zero, driver settings back to
// their defaults. No thread may be using a port.
void ResetSerial();
// An attached device is present: the program's port list names it.
void AttachSerialDevice(int port);
// The device's name as Windows would give it ("USB Serial Device"); empty: none.
void SetSerialDeviceName(int port, std::u16string name);
// The cable is pulled: a pending wait or read fails, and so does every later
// call on the handle until it is closed; bytes not read yet are lost.
void DetachSerialDevice(int port);
// Bytes arrive on the line; dropped (false) unless the port is open.
bool FeedSerial(int port, const void* bytes, std::size_t size);
bool FeedSerial(int port, std::string_view bytes);
// The next open of the device fails with `code`.
void FailNextOpen(int port, std::uint32_t code);
// The next `count` reads that get a byte fail with `code` all the same, the
// byte handed back (a driver that reports an overrun on a read that went
// through).
void FailReadsHandingBackTheirByte(int port, std::uint32_t count, std::uint32_t code);
void SetCts(int port, bool on);
// A device that opens but whose waits fail at once (a broken driver).
void BreakSerialDevice(int port, bool broken);
// SetCommState refuses, with 87 (ERROR_INVALID_PARAMETER), what Windows
// drivers refuse: data bits outside 5 to 8, 1.5 stop bits with 6 to 8 data
// bits, 2 stop bits with 5.
// What GetCommState reports before the program changes anything.
void SetDriverDcb(int port, const Dcb& dcb);
Dcb DefaultDriverDcb();
SerialDeviceState SerialDevice(int port);
// Names of every CreateFileW call (the first 1000), and CloseHandle calls on
// a port handle that was already closed.
std::vector<std::u16string> SerialOpenNames();
std::uint32_t SerialDoubleCloses();
// Blocks (for real) until the device's pending bytes have all been read, or
// the port is no longer open; false when that did not happen in 20 s.
bool WaitSerialDrained(int port);

}  // namespace platform::sim
