// Opening and configuring the scanner's serial port, closing it exactly once
// per open whichever thread gets there first, and the modem-line watch.
#include "serial/serial_port.h"

#include "platform/text.h"
#include "settings/general_settings.h"

using namespace platform;

std::atomic<PortHandle> SerialPortHandle{kNoPort};

namespace {

// The handle of the open port until someone closes it. Kept apart from
// SerialPortHandle, which keeps a closed handle's value until the next open: the
// thread that takes the handle out of here is the one that closes it.
std::atomic<PortHandle> portToClose{kNoPort};

// Written and read by WatchModemLines only, on the dialog thread.
std::int32_t ctsSeen = 0;

CommTimeouts portTimeouts{kMaxDword, 0, 1000, 0, 0};

}  // namespace

bool OpenSerialPort() {
    char16_t name[16];
    const char16_t prefix[] = u"COM";
    int n = 0;
    for (const char16_t* p = prefix; *p != 0; ++p) name[n++] = *p;
    char16_t digits[12];
    FormatDecimal(digits, 12, SerialSettings.port);
    for (const char16_t* p = digits; *p != 0; ++p) name[n++] = *p;
    name[n++] = u':';
    name[n] = 0;

    PortHandle port = CreateFileW(name, kGenericRead | kGenericWrite, 0, kOpenExisting, 0);
    SerialPortHandle.store(port);
    if (port == kInvalidPort) return false;
    portToClose.store(port);

    SetCommMask(port, kEvRxChar);
    SetCommTimeouts(port, portTimeouts);
    Dcb dcb;
    dcb.DCBlength = 28;
    GetCommState(port, dcb);
    dcb.BaudRate = SerialSettings.baudRate;
    dcb.fBinary = 1;
    dcb.fParity = SerialSettings.parity != 0 ? 1 : 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = kDtrControlEnable;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = kRtsControlEnable;
    dcb.fAbortOnError = 0;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    dcb.ByteSize = static_cast<std::uint8_t>(SerialSettings.dataBits & 0xFF);
    dcb.Parity = SerialSettings.parity != 0
                     ? static_cast<std::uint8_t>(SerialSettings.parity & 0xFF)
                     : kNoParity;
    dcb.StopBits = static_cast<std::uint8_t>(SerialSettings.stopBits & 0xFF);
    if (!SetCommState(port, dcb)) {
        // The driver refused the line settings (1.5 stop bits with 8 data bits,
        // say) and kept its own: the scanner's bytes would arrive garbled
        // under a "ready" tray tip. That is a failed open, with its code.
        const std::uint32_t code = GetLastError();
        CloseSerialPort();
        SerialPortHandle.store(kInvalidPort);
        SetLastError(code);
        return false;
    }
    return true;
}

void CloseSerialPort() {
    PortHandle port = portToClose.exchange(kNoPort);
    if (port != kNoPort) CloseHandle(port);
}

void WatchModemLines() {
    PortHandle port = SerialPortHandle.load();
    if (ctsSeen == 0) EscapeCommFunction(port, kSetRts);
    std::uint32_t status = 0;  // a failed read counts as CTS off, so RTS is raised again
    GetCommModemStatus(port, &status);
    ctsSeen = (status & kMsCtsOn) != 0 ? 1 : 0;
}
