// Opening and configuring the port, closing it once per open, and the
// modem-line watch, as the device sees them.
#include <thread>

#include "tests/serial/reception_fixture.h"

using namespace platform;
using namespace testing_support;

namespace {

using SerialPort = ReceptionTest;

TEST_F(SerialPort, OpenConfiguresTheDeviceInOrderAndKeepsTheDriversOtherFields) {
    SerialSettings.port = 3;
    SerialSettings.baudRate = 115200;
    SerialSettings.dataBits = 7;
    SerialSettings.parity = 2;
    SerialSettings.stopBits = 2;
    sim::AttachSerialDevice(3);
    ASSERT_TRUE(OpenSerialPort());

    auto port = sim::SerialDevice(3);
    EXPECT_EQ(sim::SerialOpenNames().back(), u"COM3:");
    EXPECT_EQ(SerialPortHandle.load(), port.handle);
    EXPECT_EQ(port.access, 0xC0000000u);
    EXPECT_EQ(port.shareMode, 0u);
    EXPECT_EQ(port.creation, 3u);
    EXPECT_EQ(port.flags, 0u);
    EXPECT_EQ(port.callsSinceOpen,
              (std::vector<sim::SerialCall>{
                  sim::SerialCall::SetCommMask, sim::SerialCall::SetCommTimeouts,
                  sim::SerialCall::GetCommState, sim::SerialCall::SetCommState}));
    EXPECT_EQ(port.mask, kEvRxChar);
    EXPECT_EQ(port.timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(port.timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(port.timeouts.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(port.timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(port.timeouts.WriteTotalTimeoutConstant, 0u);
    EXPECT_EQ(port.getStateLength, 28u);

    const Dcb& dcb = port.dcb;
    const Dcb driver = sim::DefaultDriverDcb();
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fDtrControl, 1u);
    EXPECT_EQ(dcb.fTXContinueOnXoff, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fErrorChar, 0u);
    EXPECT_EQ(dcb.fNull, 0u);
    EXPECT_EQ(dcb.fRtsControl, 1u);
    EXPECT_EQ(dcb.fAbortOnError, 0u);
    EXPECT_EQ(dcb.XonLim, 100);
    EXPECT_EQ(dcb.XoffLim, 100);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, 2);
    EXPECT_EQ(dcb.StopBits, 2);
    EXPECT_EQ(dcb.DCBlength, driver.DCBlength);
    EXPECT_EQ(dcb.fDsrSensitivity, driver.fDsrSensitivity);
    EXPECT_EQ(dcb.XonChar, driver.XonChar);
    EXPECT_EQ(dcb.XoffChar, driver.XoffChar);
    EXPECT_EQ(dcb.ErrorChar, driver.ErrorChar);
    EXPECT_EQ(dcb.EofChar, driver.EofChar);
    EXPECT_EQ(dcb.EvtChar, driver.EvtChar);
    EXPECT_TRUE(port.rts);
    EXPECT_TRUE(port.dtr);
    CloseSerialPort();
}

TEST_F(SerialPort, NoParityAndPortTen) {
    SerialSettings.port = 10;
    SerialSettings.parity = 0;
    sim::AttachSerialDevice(10);
    ASSERT_TRUE(OpenSerialPort());
    EXPECT_EQ(sim::SerialOpenNames().back(), u"COM10:");
    EXPECT_EQ(sim::SerialDevice(10).dcb.fParity, 0u);
    EXPECT_EQ(sim::SerialDevice(10).dcb.Parity, kNoParity);
    CloseSerialPort();
}

TEST_F(SerialPort, FailedOpenLeavesTheInvalidHandleAndTheReason) {
    sim::DetachSerialDevice(1);
    EXPECT_FALSE(OpenSerialPort());
    EXPECT_EQ(SerialPortHandle.load(), kInvalidPort);
    EXPECT_EQ(GetLastError(), kErrorDevNotExist);

    sim::AttachSerialDevice(1);
    PortHandle other = CreateFileW(u"COM1:", kGenericRead | kGenericWrite, 0, kOpenExisting, 0);
    EXPECT_FALSE(OpenSerialPort());
    EXPECT_EQ(GetLastError(), kErrorAccessDenied);
    CloseHandle(other);
    // Nothing to close after a failed open.
    CloseSerialPort();
    EXPECT_EQ(sim::SerialDevice(1).closes, 1u);
    EXPECT_EQ(sim::SerialDoubleCloses(), 0u);
}

TEST_F(SerialPort, EachOpenIsClosedExactlyOnceWhoeverClosesFirst) {
    CloseSerialPort();  // never opened: nothing happens
    for (int round = 0; round < 300; ++round) {
        ASSERT_TRUE(OpenSerialPort());
        PortHandle opened = SerialPortHandle.load();
        std::thread dialog(CloseSerialPort);
        std::thread reception(CloseSerialPort);
        dialog.join();
        reception.join();
        CloseSerialPort();
        // The value stays until the next open.
        EXPECT_EQ(SerialPortHandle.load(), opened);
    }
    EXPECT_EQ(sim::SerialDevice(1).opens, 300u);
    EXPECT_EQ(sim::SerialDevice(1).closes, 300u);
    EXPECT_EQ(sim::SerialDoubleCloses(), 0u);
}

TEST_F(SerialPort, WatchRaisesRtsUntilCtsIsSeen) {
    ASSERT_TRUE(OpenSerialPort());
    sim::SetCts(1, false);
    WatchModemLines();  // whatever an earlier test left, CTS is now unseen
    auto rtsRaised = [] { return sim::SerialDevice(1).setRtsCalls; };
    std::uint32_t base = rtsRaised();

    WatchModemLines();
    WatchModemLines();
    EXPECT_EQ(rtsRaised(), base + 2);  // CTS off: RTS raised on every tick

    sim::SetCts(1, true);
    WatchModemLines();  // raises once more, then sees CTS
    WatchModemLines();
    WatchModemLines();
    EXPECT_EQ(rtsRaised(), base + 3);

    sim::SetCts(1, false);
    WatchModemLines();  // finds CTS off: no raise yet
    EXPECT_EQ(rtsRaised(), base + 3);
    WatchModemLines();  // the tick after raises again
    EXPECT_EQ(rtsRaised(), base + 4);
    EXPECT_EQ(sim::SerialDevice(1).modemStatusCalls, 8u);

    // Between a close and the next open the calls fail and CTS counts as
    // unseen: the first tick after a reopen raises RTS.
    sim::SetCts(1, true);
    WatchModemLines();
    CloseSerialPort();
    WatchModemLines();
    ASSERT_TRUE(OpenSerialPort());
    std::uint32_t beforeReopenTick = rtsRaised();
    WatchModemLines();
    EXPECT_EQ(rtsRaised(), beforeReopenTick + 1);
}

}  // namespace
