// Opening and configuring the scanner's serial port, closing it exactly once
// per open whichever thread gets there first, and the modem-line watch.
#include "serial/serial_port.h"

#include "platform/text.h"
#include "settings/general_settings.h"

using namespace platform;

std::atomic<Handle> PortHandle{kNoHandle};

namespace {

// The handle of the open port until someone closes it. Kept apart from
// PortHandle, which keeps a closed handle's value until the next open: the
// thread that takes the handle out of here is the one that closes it.
std::atomic<Handle> portToClose{kNoHandle};

// Written and read by WatchModemLines only, on the dialog thread.
std::int32_t ctsSeen = 0;

CommTimeouts portTimeouts{MAXDWORD, 0, 1000, 0, 0};

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

    Handle port = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
    PortHandle.store(port);
    if (port == kInvalidHandle) return false;
    portToClose.store(port);

    SetCommMask(port, EV_RXCHAR);
    SetCommTimeouts(port, portTimeouts);
    Dcb dcb;
    dcb.DCBlength = 28;
    GetCommState(port, dcb);
    dcb.BaudRate = SerialSettings.baudRate;
    dcb.fBinary = 1;
    dcb.fParity = SerialSettings.parity != 0 ? 1 : 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    dcb.ByteSize = static_cast<std::uint8_t>(SerialSettings.dataBits & 0xFF);
    dcb.Parity = SerialSettings.parity != 0
                     ? static_cast<std::uint8_t>(SerialSettings.parity & 0xFF)
                     : NOPARITY;
    dcb.StopBits = static_cast<std::uint8_t>(SerialSettings.stopBits & 0xFF);
    SetCommState(port, dcb);
    return true;
}

void CloseSerialPort() {
    Handle port = portToClose.exchange(kNoHandle);
    if (port != kNoHandle) CloseHandle(port);
}

void WatchModemLines() {
    Handle port = PortHandle.load();
    if (ctsSeen == 0) EscapeCommFunction(port, SETRTS);
    std::uint32_t status = 0;  // a failed read counts as CTS off, so RTS is raised again
    GetCommModemStatus(port, &status);
    ctsSeen = (status & MS_CTS_ON) != 0 ? 1 : 0;
}
