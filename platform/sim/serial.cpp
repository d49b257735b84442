// Simulated serial devices: exclusive opens, blocking waits that a close or an
// unplug wakes, one-byte reads with the port's total read timeout on the
// virtual clock, and a record of everything the program configured.
#include "platform/sim/serial.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/sim/threads.h"
#include "platform/text.h"

namespace platform {
namespace sim {
namespace {

inline constexpr std::size_t kRecordLimit = 1000;

struct Device {
    bool attached = false;
    std::u16string name;
    PortHandle handle = kNoPort;
    bool lost = false;  // unplugged while open
    bool broken = false;
    std::vector<std::uint8_t> rx;
    std::size_t rxPos = 0;
    std::uint32_t mask = 0;
    CommTimeouts timeouts{};
    Dcb dcb{};
    std::uint32_t getStateLength = 0;
    bool rts = false, dtr = false, cts = false;
    std::uint32_t failNextOpen = 0;
    std::uint32_t failingReads = 0;  // reads still to fail handing back their byte
    std::uint32_t failingReadCode = 0;
    std::uint32_t eventsReported = 0;
    std::uint32_t openAttempts = 0, opens = 0, closes = 0, setRtsCalls = 0, modemStatusCalls = 0;
    std::uint32_t access = 0, shareMode = 0, creation = 0, flags = 0;
    std::vector<std::uint64_t> openAttemptTimesUs;
    std::vector<SerialCall> callsSinceOpen;
};

Device devices[kSerialDeviceCount];
std::vector<PortHandle> closedHandles;
std::vector<std::u16string> openNames;
std::uint32_t doubleCloses = 0;

std::unique_lock<std::mutex> Lock() {
    return std::unique_lock(detail::Mutex());
}

Device* Port(int port) {
    return port >= 1 && port <= kSerialDeviceCount ? &devices[port - 1] : nullptr;
}

// The open device behind a handle; null (and the error set) when the handle
// is no open port or its device has gone.
Device* Open(PortHandle handle) {
    for (Device& d : devices) {
        if (d.handle == handle && handle != kNoPort) {
            if (d.lost) {
                SetLastError(kErrorDeviceNotConnected);
                return nullptr;
            }
            return &d;
        }
    }
    SetLastError(kErrorInvalidHandle);
    return nullptr;
}

bool Pending(const Device& d) {
    return d.rxPos < d.rx.size();
}

}  // namespace

Dcb DefaultDriverDcb() {
    // A driver that starts with flow control on and odd characters set, so
    // that a field the program forgets to set shows.
    Dcb dcb;
    dcb.DCBlength = 28;
    dcb.BaudRate = 19200;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 1;
    dcb.fDtrControl = 2;
    dcb.fDsrSensitivity = 1;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.fErrorChar = 1;
    dcb.fNull = 1;
    dcb.fRtsControl = 2;
    dcb.fAbortOnError = 1;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 7;
    dcb.Parity = 2;
    dcb.StopBits = 2;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = '?';
    dcb.EofChar = 0x1A;
    dcb.EvtChar = '\n';
    return dcb;
}

void ResetSerial() {
    auto lock = Lock();
    for (Device& d : devices) {
        d = Device{};
        d.dcb = DefaultDriverDcb();
    }
    closedHandles.clear();
    openNames.clear();
    doubleCloses = 0;
    detail::Changed().notify_all();
}

void AttachSerialDevice(int port) {
    auto lock = Lock();
    if (Device* d = Port(port)) d->attached = true;
}

void SetSerialDeviceName(int port, std::u16string name) {
    auto lock = Lock();
    if (Device* d = Port(port)) d->name = std::move(name);
}

void DetachSerialDevice(int port) {
    auto lock = Lock();
    Device* d = Port(port);
    if (d == nullptr) return;
    d->attached = false;
    if (d->handle != kNoPort) d->lost = true;
    d->rx.clear();
    d->rxPos = 0;
    detail::Changed().notify_all();
}

bool FeedSerial(int port, const void* bytes, std::size_t size) {
    auto lock = Lock();
    Device* d = Port(port);
    if (d == nullptr || d->handle == kNoPort || d->lost) return false;
    if (d->rxPos == d->rx.size()) {
        d->rx.clear();
        d->rxPos = 0;
    } else if (d->rxPos > 4096 && d->rxPos > d->rx.size() / 2) {
        d->rx.erase(d->rx.begin(), d->rx.begin() + std::ptrdiff_t(d->rxPos));
        d->rxPos = 0;
    }
    auto* p = static_cast<const std::uint8_t*>(bytes);
    d->rx.insert(d->rx.end(), p, p + size);
    detail::Changed().notify_all();
    return true;
}

bool FeedSerial(int port, std::string_view bytes) {
    return FeedSerial(port, bytes.data(), bytes.size());
}

void FailNextOpen(int port, std::uint32_t code) {
    auto lock = Lock();
    if (Device* d = Port(port)) d->failNextOpen = code;
}

void FailReadsHandingBackTheirByte(int port, std::uint32_t count, std::uint32_t code) {
    auto lock = Lock();
    if (Device* d = Port(port)) {
        d->failingReads = count;
        d->failingReadCode = code;
    }
}

void BreakSerialDevice(int port, bool broken) {
    auto lock = Lock();
    if (Device* d = Port(port)) d->broken = broken;
}

void SetCts(int port, bool on) {
    auto lock = Lock();
    if (Device* d = Port(port)) d->cts = on;
}

void SetDriverDcb(int port, const Dcb& dcb) {
    auto lock = Lock();
    if (Device* d = Port(port)) d->dcb = dcb;
}

SerialDeviceState SerialDevice(int port) {
    auto lock = Lock();
    SerialDeviceState s;
    const Device* d = Port(port);
    if (d == nullptr) return s;
    s.attached = d->attached;
    s.open = d->handle != kNoPort;
    s.handle = d->handle;
    s.mask = d->mask;
    s.timeouts = d->timeouts;
    s.dcb = d->dcb;
    s.getStateLength = d->getStateLength;
    s.rts = d->rts;
    s.dtr = d->dtr;
    s.cts = d->cts;
    s.openAttempts = d->openAttempts;
    s.opens = d->opens;
    s.closes = d->closes;
    s.setRtsCalls = d->setRtsCalls;
    s.modemStatusCalls = d->modemStatusCalls;
    s.eventsReported = d->eventsReported;
    s.pendingBytes = d->rx.size() - d->rxPos;
    s.access = d->access;
    s.shareMode = d->shareMode;
    s.creation = d->creation;
    s.flags = d->flags;
    s.openAttemptTimesUs = d->openAttemptTimesUs;
    s.callsSinceOpen = d->callsSinceOpen;
    return s;
}

std::vector<std::u16string> SerialOpenNames() {
    auto lock = Lock();
    return openNames;
}

std::uint32_t SerialDoubleCloses() {
    auto lock = Lock();
    return doubleCloses;
}

bool WaitSerialDrained(int port) {
    auto lock = Lock();
    Device* d = Port(port);
    return d != nullptr && detail::Changed().wait_for(lock, std::chrono::seconds(20), [&] {
        return !Pending(*d) || d->handle == kNoPort || d->lost;
    });
}

}  // namespace sim

using namespace sim;

bool CloseHandle(PortHandle handle) {
    auto lock = Lock();
    for (Device& d : devices) {
        if (d.handle == handle && handle != kNoPort) {
            d.handle = kNoPort;
            d.lost = false;
            d.rx.clear();
            d.rxPos = 0;
            d.rts = false;
            d.dtr = false;
            ++d.closes;
            closedHandles.push_back(handle);
            detail::Changed().notify_all();
            return true;
        }
    }
    if (std::find(closedHandles.begin(), closedHandles.end(), handle) != closedHandles.end())
        ++doubleCloses;
    SetLastError(kErrorInvalidHandle);
    return false;
}

PortHandle CreateFileW(const char16_t* name, std::uint32_t access, std::uint32_t shareMode,
                       std::uint32_t creation, std::uint32_t flags) {
    auto lock = Lock();
    std::u16string text = name != nullptr ? name : u"";
    if (openNames.size() < kRecordLimit) openNames.push_back(text);
    int port = 0;
    bool wellFormed = text.size() >= 5 && text.size() <= 7 && text.compare(0, 3, u"COM") == 0 &&
                      text.back() == u':';
    if (wellFormed) {
        for (std::size_t i = 3; i + 1 < text.size(); ++i) {
            if (text[i] < u'0' || text[i] > u'9') wellFormed = false;
            port = port * 10 + (text[i] - u'0');
        }
    }
    Device* d = wellFormed && text[3] != u'0' ? Port(port) : nullptr;
    if (d == nullptr) {
        SetLastError(kErrorFileNotFound);
        return kInvalidPort;
    }
    ++d->openAttempts;
    if (d->openAttemptTimesUs.size() < kRecordLimit) d->openAttemptTimesUs.push_back(NowUs());
    d->access = access;
    d->shareMode = shareMode;
    d->creation = creation;
    d->flags = flags;
    if (d->failNextOpen != 0) {
        SetLastError(std::exchange(d->failNextOpen, 0));
        return kInvalidPort;
    }
    if (!d->attached) {
        SetLastError(kErrorDevNotExist);
        return kInvalidPort;
    }
    if (d->handle != kNoPort) {
        SetLastError(kErrorAccessDenied);
        return kInvalidPort;
    }
    d->handle = PortHandle{detail::NewHandle()};
    d->lost = false;
    d->rx.clear();
    d->rxPos = 0;
    d->mask = 0;
    d->callsSinceOpen.clear();
    d->rts = d->dcb.fRtsControl != 0;
    d->dtr = d->dcb.fDtrControl != 0;
    ++d->opens;
    SetLastError(kErrorSuccess);
    return d->handle;
}

bool SetCommMask(PortHandle port, std::uint32_t mask) {
    auto lock = Lock();
    Device* d = Open(port);
    if (d == nullptr) return false;
    d->mask = mask;
    d->callsSinceOpen.push_back(SerialCall::SetCommMask);
    detail::Changed().notify_all();
    return true;
}

bool SetCommTimeouts(PortHandle port, const CommTimeouts& timeouts) {
    auto lock = Lock();
    Device* d = Open(port);
    if (d == nullptr) return false;
    d->timeouts = timeouts;
    d->callsSinceOpen.push_back(SerialCall::SetCommTimeouts);
    return true;
}

bool GetCommState(PortHandle port, Dcb& dcb) {
    auto lock = Lock();
    Device* d = Open(port);
    if (d == nullptr) return false;
    d->getStateLength = dcb.DCBlength;
    d->callsSinceOpen.push_back(SerialCall::GetCommState);
    dcb = d->dcb;
    return true;
}

bool SetCommState(PortHandle port, const Dcb& dcb) {
    auto lock = Lock();
    Device* d = Open(port);
    if (d == nullptr) return false;
    // What Windows drivers refuse (the port keeps its settings): 1.5 stop
    // bits only with 5 data bits, 2 stop bits never with 5.
    const bool valid = dcb.ByteSize >= 5 && dcb.ByteSize <= 8 && dcb.Parity <= kSpaceParity &&
                       dcb.StopBits <= kTwoStopBits &&
                       !(dcb.StopBits == kOne5StopBits && dcb.ByteSize != 5) &&
                       !(dcb.StopBits == kTwoStopBits && dcb.ByteSize == 5);
    d->callsSinceOpen.push_back(SerialCall::SetCommState);
    if (!valid) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    d->dcb = dcb;
    d->rts = dcb.fRtsControl != 0;
    d->dtr = dcb.fDtrControl != 0;
    return true;
}

bool WaitCommEvent(PortHandle port, std::uint32_t* eventMask) {
    auto lock = Lock();
    Device* d = Open(port);
    if (d == nullptr) return false;
    if (d->broken) {
        SetLastError(kErrorDeviceNotConnected);
        return false;
    }
    detail::BlockUntil(lock, detail::kNever, [&] {
        return d->handle != port || d->lost || ((d->mask & kEvRxChar) != 0 && Pending(*d));
    });
    if (d->handle != port) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (d->lost) {
        SetLastError(kErrorDeviceNotConnected);
        return false;
    }
    if (eventMask != nullptr) *eventMask = kEvRxChar;
    ++d->eventsReported;
    return true;
}

bool ReadFile(PortHandle port, void* buffer, std::uint32_t toRead, std::uint32_t* bytesRead) {
    auto lock = Lock();
    if (bytesRead != nullptr) *bytesRead = 0;
    Device* d = Open(port);
    if (d == nullptr) return false;
    const CommTimeouts& t = d->timeouts;
    bool immediate = t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                     t.ReadTotalTimeoutConstant == 0;
    std::uint64_t totalMs =
        std::uint64_t{t.ReadTotalTimeoutMultiplier} * toRead + t.ReadTotalTimeoutConstant;
    if (!immediate && d->rx.size() - d->rxPos < toRead) {
        std::uint64_t deadline = totalMs == 0 ? detail::kNever : NowUs() + totalMs * 1000;
        detail::BlockUntil(lock, deadline, [&] {
            return d->handle != port || d->lost || d->rx.size() - d->rxPos >= toRead;
        });
        if (d->handle != port) {
            SetLastError(kErrorInvalidHandle);
            return false;
        }
        if (d->lost) {
            SetLastError(kErrorDeviceNotConnected);
            return false;
        }
    }
    std::size_t n = std::min<std::size_t>(toRead, d->rx.size() - d->rxPos);
    std::copy_n(d->rx.data() + d->rxPos, n, static_cast<std::uint8_t*>(buffer));
    d->rxPos += n;
    if (n != 0 && !Pending(*d)) detail::Changed().notify_all();  // WaitSerialDrained
    if (bytesRead != nullptr) *bytesRead = static_cast<std::uint32_t>(n);
    if (n != 0 && d->failingReads != 0) {
        --d->failingReads;
        SetLastError(d->failingReadCode);
        return false;
    }
    return true;
}

bool EscapeCommFunction(PortHandle port, std::uint32_t function) {
    auto lock = Lock();
    Device* d = Open(port);
    if (d == nullptr) return false;
    if (function == kSetRts) {
        d->rts = true;
        ++d->setRtsCalls;
    }
    return true;
}

bool GetCommModemStatus(PortHandle port, std::uint32_t* status) {
    auto lock = Lock();
    Device* d = Open(port);
    if (d == nullptr) return false;
    ++d->modemStatusCalls;
    if (status != nullptr) *status = d->cts ? kMsCtsOn : 0;
    return true;
}

std::int32_t ListPresentSerialPorts(std::int32_t* ports, std::int32_t capacity) {
    auto lock = Lock();
    std::int32_t count = 0;
    for (int port = 1; port <= kSerialDeviceCount && count < capacity; ++port)
        if (devices[port - 1].attached) ports[count++] = port;
    return count;
}

void AppendPortDescription(std::int32_t port, char16_t* text, std::size_t capacity) {
    auto lock = Lock();
    const Device* d = Port(port);
    if (d == nullptr || d->name.empty()) return;
    StrAppend(text, capacity, u" - ");
    StrAppend(text, capacity, d->name.c_str());
}

}  // namespace platform
