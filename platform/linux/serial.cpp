// The seam's serial operations on a termios port: "COMn:" resolved to a
// device, errno turned into the codes the core acts on (55 while the device
// is missing), Windows read timeouts and modem functions on top of TtyPort.
#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>

#include "platform/linux/handle_table_private.h"
#include "platform/linux/serial/port_names.h"
#include "platform/linux/serial/tty_port_private.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_files.h"
#include "platform/services.h"
#include "platform/text.h"

namespace platform {

namespace linux_backend {

namespace {

struct PortObject {
    explicit PortObject(std::unique_ptr<TtyPort> port) : tty(std::move(port)) {}

    const std::unique_ptr<TtyPort> tty;
    std::atomic<std::uint32_t> mask{0};
    std::atomic<std::uint32_t> readInterval{0};
    std::atomic<std::uint32_t> readMultiplier{0};
    std::atomic<std::uint32_t> readConstant{0};
};

// The open ports; a port handle names a slot here.
HandleTable<PortObject, 0x5150> ports;

std::uint32_t OpenError(int error) {
    return posix::ErrorFromErrno(error, posix::ErrnoUse::PortOpen);
}

std::uint32_t IoError(int error) {
    return posix::ErrorFromErrno(error, posix::ErrnoUse::PortIo);
}

bool Fail(std::uint32_t code) {
    SetLastError(code);
    return false;
}

std::shared_ptr<PortObject> FindPort(PortHandle port) {
    std::shared_ptr<PortObject> object = ports.Find(RawOf(port));
    if (!object) SetLastError(kErrorInvalidHandle);
    return object;
}

// n of "COMn:", "COMn" or "\\.\COMn"; 0 when the name is none of these.
int ComNumber(const char16_t* name) {
    if (name[0] == u'\\' && name[1] == u'\\' && name[2] == u'.' && name[3] == u'\\') name += 4;
    if ((name[0] | 0x20) != u'c' || (name[1] | 0x20) != u'o' || (name[2] | 0x20) != u'm') return 0;
    int n = 0;
    const char16_t* p = name + 3;
    for (; *p >= u'0' && *p <= u'9' && n < 1000; ++p) n = n * 10 + (*p - u'0');
    if (p == name + 3 || (p[0] == u':' ? p[1] != 0 : p[0] != 0)) return 0;
    return n;
}

}  // namespace

}  // namespace linux_backend

using namespace linux_backend;

PortHandle CreateFileW(const char16_t* name, std::uint32_t, std::uint32_t, std::uint32_t,
                       std::uint32_t) {
    std::string path;
    if (const int n = ComNumber(name); n != 0) {
        path = ResolvePort(n, CurrentDeviceRoots()).path;
    } else if (name[0] == u'/') {
        char utf8[4096];
        if (!posix::PathToUtf8(name, utf8, sizeof utf8)) {
            SetLastError(kErrorInvalidParameter);
            return kInvalidPort;
        }
        path = utf8;
    }
    if (path.empty()) {
        SetLastError(kErrorDevNotExist);
        return kInvalidPort;
    }
    int error = 0;
    std::unique_ptr<TtyPort> tty = TtyPort::Open(path.c_str(), &error);
    if (!tty) {
        SetLastError(OpenError(error));
        return kInvalidPort;
    }
    auto object = std::make_shared<PortObject>(std::move(tty));
    const Handle handle = ports.Insert(object);
    if (handle == kNoHandle) {
        object->tty->Close();
        SetLastError(kErrorTooManyOpenFiles);
        return kInvalidPort;
    }
    SetLastError(kErrorSuccess);
    return PortHandle{handle};
}

bool SetCommMask(PortHandle port, std::uint32_t mask) {
    auto object = FindPort(port);
    if (!object) return false;
    object->mask.store(mask);
    return true;
}

bool SetCommTimeouts(PortHandle port, const CommTimeouts& timeouts) {
    auto object = FindPort(port);
    if (!object) return false;
    object->readInterval.store(timeouts.ReadIntervalTimeout);
    object->readMultiplier.store(timeouts.ReadTotalTimeoutMultiplier);
    object->readConstant.store(timeouts.ReadTotalTimeoutConstant);
    return true;
}

bool GetCommState(PortHandle port, Dcb& dcb) {
    auto object = FindPort(port);
    if (!object) return false;
    LineSettings line;
    if (const int e = object->tty->Current(&line); e != 0) return Fail(IoError(e));
    dcb.BaudRate = line.baudRate;
    dcb.fBinary = 1;
    dcb.fParity = line.parity != Parity::None ? 1 : 0;
    dcb.ByteSize = line.dataBits;
    dcb.Parity = static_cast<std::uint8_t>(line.parity);
    dcb.StopBits = static_cast<std::uint8_t>(line.stopBits);
    // The port always runs without flow control, with DTR and RTS up.
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = 0;
    dcb.fOutX = dcb.fInX = dcb.fTXContinueOnXoff = 0;
    dcb.fErrorChar = dcb.fNull = dcb.fAbortOnError = 0;
    dcb.fDtrControl = kDtrControlEnable;
    dcb.fRtsControl = kRtsControlEnable;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return true;
}

bool SetCommState(PortHandle port, const Dcb& dcb) {
    auto object = FindPort(port);
    if (!object) return false;
    // Flow control is not offered: the scanner's line needs none, and a port
    // that silently ran without what was asked would lose bytes unnoticed.
    if (dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fOutX || dcb.fInX || dcb.fRtsControl > 1 ||
        dcb.fDtrControl > 1 || dcb.Parity > kSpaceParity || dcb.StopBits > kTwoStopBits) {
        return Fail(kErrorInvalidParameter);
    }
    LineSettings line;
    line.baudRate = dcb.BaudRate;
    line.dataBits = dcb.ByteSize;
    line.parity = static_cast<Parity>(dcb.Parity);
    line.stopBits = static_cast<StopBits>(dcb.StopBits);
    if (const int e = object->tty->Apply(line); e != 0) return Fail(IoError(e));
    // DTR and RTS follow the block; a pseudo-terminal has no such lines.
    object->tty->SetModemLines(ModemLines::kDtr, dcb.fDtrControl != kDtrControlDisable);
    object->tty->SetModemLines(ModemLines::kRts, dcb.fRtsControl != kRtsControlDisable);
    return true;
}

bool WaitCommEvent(PortHandle port, std::uint32_t* eventMask) {
    if (eventMask != nullptr) *eventMask = 0;
    auto object = FindPort(port);
    if (!object) return false;
    // Only character arrival can be waited for.
    if ((object->mask.load() & kEvRxChar) == 0) return Fail(kErrorInvalidParameter);
    if (const int e = object->tty->WaitForInput(); e != 0) return Fail(IoError(e));
    if (eventMask != nullptr) *eventMask = kEvRxChar;
    return true;
}

bool ReadFile(PortHandle port, void* buffer, std::uint32_t toRead, std::uint32_t* bytesRead) {
    if (bytesRead != nullptr) *bytesRead = 0;
    auto object = FindPort(port);
    if (!object) return false;
    if (toRead == 0) return true;
    const std::uint32_t interval = object->readInterval.load();
    const std::uint32_t multiplier = object->readMultiplier.load();
    const std::uint32_t constant = object->readConstant.load();
    // Windows read timeouts: kMaxDword/0/0 returns what is there; kMaxDword
    // with a total timeout returns as soon as a byte is there; otherwise the
    // read waits for all bytes up to the total timeout (none: no limit).
    // Gaps between bytes are not timed.
    const bool anyByteEnds = interval == kMaxDword;
    std::int64_t timeoutMs;
    if (interval == kMaxDword && multiplier == 0 && constant == 0) {
        timeoutMs = 0;
    } else {
        const std::uint64_t perByte = multiplier == kMaxDword ? 0 : multiplier;
        const std::uint64_t total = perByte * toRead + constant;
        timeoutMs = total == 0 ? -1 : static_cast<std::int64_t>(total);
    }
    std::size_t got = 0;
    const int e = object->tty->Read(buffer, toRead, timeoutMs, anyByteEnds, &got);
    if (bytesRead != nullptr) *bytesRead = static_cast<std::uint32_t>(got);
    return e == 0 ? true : Fail(IoError(e));
}

bool EscapeCommFunction(PortHandle port, std::uint32_t function) {
    auto object = FindPort(port);
    if (!object) return false;
    int e;
    switch (function) {
        case kSetRts:
            e = object->tty->SetModemLines(ModemLines::kRts, true);
            break;
        case kClrRts:
            e = object->tty->SetModemLines(ModemLines::kRts, false);
            break;
        case kSetDtr:
            e = object->tty->SetModemLines(ModemLines::kDtr, true);
            break;
        case kClrDtr:
            e = object->tty->SetModemLines(ModemLines::kDtr, false);
            break;
        default:
            return Fail(kErrorInvalidFunction);
    }
    return e == 0 ? true : Fail(IoError(e));
}

bool GetCommModemStatus(PortHandle port, std::uint32_t* status) {
    if (status != nullptr) *status = 0;
    auto object = FindPort(port);
    if (!object) return false;
    int lines = 0;
    // A pseudo-terminal answers ENOTTY: no status, which the core takes as
    // CTS off.
    if (const int e = object->tty->GetModemLines(&lines); e != 0) return Fail(IoError(e));
    if (status != nullptr) {
        *status = ((lines & ModemLines::kCts) ? kMsCtsOn : 0) |
                  ((lines & ModemLines::kDsr) ? kMsDsrOn : 0) |
                  ((lines & ModemLines::kRing) ? kMsRingOn : 0) |
                  ((lines & ModemLines::kDcd) ? kMsRlsdOn : 0);
    }
    return true;
}

bool CloseHandle(PortHandle port) {
    const std::shared_ptr<PortObject> object = ports.Remove(RawOf(port));
    if (!object) return Fail(kErrorInvalidHandle);
    // Calls still running on the port hold their own reference; the close
    // makes them return at once.
    return object->tty->Close() == 0;
}

std::int32_t ListPresentSerialPorts(std::int32_t* numbers, std::int32_t capacity) {
    std::int32_t count = 0;
    for (const int n : PresentPortNumbers(CurrentDeviceRoots()))
        if (count < capacity) numbers[count++] = n;
    return count;
}

void AppendPortDescription(std::int32_t port, char16_t* text, std::size_t capacity) {
    // DescribePort's line without its leading "COMn": the list shows the number.
    const std::string line = DescribeComPort(port);
    const std::size_t gap = line.find("  ");
    if (gap == std::string::npos) return;
    char16_t wide[kTextCapacity];
    const std::ptrdiff_t n =
        DecodeUtf8Terminated(line.data() + gap, line.size() - gap, wide, std::size(wide));
    if (n < 0) return;
    const std::size_t used = StrLen(text);
    if (used + 1 >= capacity) return;
    // Cut to fit rather than fail: the start of the description is the useful part.
    const std::size_t room = capacity - used - 1;
    const std::size_t take =
        static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room;
    for (std::size_t i = 0; i < take; ++i) text[used + i] = wide[i];
    text[used + take] = 0;
}

}  // namespace platform
