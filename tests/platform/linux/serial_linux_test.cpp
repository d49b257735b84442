// The Linux serial backend on pseudo-terminals, through the seam as the core
// calls it: an exclusive open, the line settings, raw bytes, a close from
// another thread that wakes a pending wait or read, a pulled cable that fails
// the wait without spinning, and a device that appears after the first try.
#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "platform/linux/serial/port_names.h"
#include "platform/linux/serial/tty_port_private.h"
#include "platform/linux/serial/tty_speed_private.h"
#include "platform/services.h"
#include "tests/platform/linux/pty_fixture.h"

namespace {

using namespace platform;
using namespace std::chrono_literals;
using quorvel_test::Pty;
using quorvel_test::ScratchFolder;

// Far beyond any legitimate wake-up; only there so that a broken wake fails
// the test instead of hanging it.
constexpr auto kHang = 20s;

class LinuxSerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        linux_backend::SetDeviceRoots(scratch.Roots());
    }
    void TearDown() override { linux_backend::SetDeviceRoots({}); }

    // Opens COMn and sets it up as the core does.
    static PortHandle OpenAsCore(int n, std::uint32_t readTimeoutMs = 1000) {
        const std::u16string name = u"COM" + Digits(n) + u":";
        const PortHandle port =
            CreateFileW(name.c_str(), kGenericRead | kGenericWrite, 0, kOpenExisting, 0);
        if (port == kInvalidPort) return port;
        SetCommMask(port, kEvRxChar);
        SetCommTimeouts(port, CommTimeouts{kMaxDword, 0, readTimeoutMs, 0, 0});
        return port;
    }

    static std::u16string Digits(int n) {
        std::u16string text;
        for (char c : std::to_string(n)) text += static_cast<char16_t>(c);
        return text;
    }

    // One byte the way the reception thread reads it: wait, then read.
    static int WaitAndRead(PortHandle port) {
        std::uint32_t mask = 0;
        if (!WaitCommEvent(port, &mask) || (mask & kEvRxChar) == 0) return -1;
        unsigned char byte = 0;
        std::uint32_t got = 0;
        if (!ReadFile(port, &byte, 1, &got) || got != 1) return -2;
        return byte;
    }

    ScratchFolder scratch;
    Pty pty;
};

TEST_F(LinuxSerialTest, OpenIsExclusiveAndEachOpenClosesOnce) {
    scratch.LinkPort(1, pty.SlaveName());
    const PortHandle port = OpenAsCore(1);
    ASSERT_NE(port, kInvalidPort) << GetLastError();

    // Held: a second open (another program, or a second thread) is refused
    // with a code that is not 55, so the user is told instead of waiting.
    EXPECT_EQ(OpenAsCore(1), kInvalidPort);
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);

    // A pseudo-terminal has no modem lines: RTS cannot be raised and the
    // status cannot be read, which leaves CTS off.
    EXPECT_FALSE(EscapeCommFunction(port, kSetRts));
    EXPECT_EQ(GetLastError(), kErrorNotSupported);
    std::uint32_t status = 0xFFFF;
    EXPECT_FALSE(GetCommModemStatus(port, &status));
    EXPECT_EQ(status & kMsCtsOn, 0u);

    // Closed once; the value kept afterwards (as the core keeps it) opens
    // nothing and closes nothing, and the device is free again.
    EXPECT_TRUE(CloseHandle(port));
    EXPECT_FALSE(CloseHandle(port));
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
    std::uint32_t mask = 0;
    EXPECT_FALSE(WaitCommEvent(port, &mask));
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
    EXPECT_FALSE(GetCommModemStatus(port, &status));

    const PortHandle again = OpenAsCore(1);
    ASSERT_NE(again, kInvalidPort) << GetLastError();
    EXPECT_NE(again, port);
    EXPECT_TRUE(CloseHandle(again));
}

TEST_F(LinuxSerialTest, LineSettingsAreAppliedOrRefusedAndBytesArriveRaw) {
    scratch.LinkPort(2, pty.SlaveName());
    const PortHandle port = OpenAsCore(2);
    ASSERT_NE(port, kInvalidPort) << GetLastError();

    // Every rate the dialog offers, including those termios has no Bxxx
    // constant for (14400, 56000, 128000, 256000).
    for (std::uint32_t baud : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u,
                               56000u, 57600u, 115200u, 128000u, 256000u}) {
        for (std::uint8_t dataBits = 5; dataBits <= 8; ++dataBits) {
            for (std::uint8_t parity = kNoParity; parity <= kSpaceParity; ++parity) {
                for (std::uint8_t stop : {kOneStopBit, kOne5StopBits, kTwoStopBits}) {
                    Dcb dcb;
                    dcb.DCBlength = 28;
                    ASSERT_TRUE(GetCommState(port, dcb));
                    dcb.BaudRate = baud;
                    dcb.fParity = parity != kNoParity;
                    dcb.fDtrControl = kDtrControlEnable;
                    dcb.fRtsControl = kRtsControlEnable;
                    dcb.ByteSize = dataBits;
                    dcb.Parity = parity;
                    dcb.StopBits = stop;
                    SCOPED_TRACE(testing::Message() << baud << " " << int(dataBits) << " "
                                                    << int(parity) << " " << int(stop));
                    if (stop == kOne5StopBits && dataBits != 5) {
                        // No UART sends 1.5 stop bits at that size.
                        EXPECT_FALSE(SetCommState(port, dcb));
                        EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
                        continue;
                    }
                    // The pty keeps 8 bits without parity whatever is asked
                    // (it has no line); the rate and the stop bits stick.
                    ASSERT_TRUE(SetCommState(port, dcb)) << GetLastError();
                    Dcb back;
                    ASSERT_TRUE(GetCommState(port, back));
                    EXPECT_EQ(back.BaudRate, baud);
                    EXPECT_EQ(back.StopBits != kOneStopBit, stop != kOneStopBit);
                    EXPECT_EQ(back.fOutxCtsFlow | back.fOutX | back.fInX, 0u);
                }
            }
        }
    }
    Dcb refused;
    ASSERT_TRUE(GetCommState(port, refused));
    refused.BaudRate = 0;  // would hang the line up
    EXPECT_FALSE(SetCommState(port, refused));
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
    refused.BaudRate = 9600;
    refused.ByteSize = 9;
    EXPECT_FALSE(SetCommState(port, refused));
    refused.ByteSize = 8;
    refused.fOutxCtsFlow = 1;
    EXPECT_FALSE(SetCommState(port, refused));
    // A driver's divisor rounds the rate: 9615 for 9600 (a 16 MHz clock) or
    // 115384 for 115200 still talks to the scanner, a UART's 2% away does not.
    EXPECT_TRUE(linux_backend::RateAccepted(9600, 9615));
    EXPECT_TRUE(linux_backend::RateAccepted(115200, 115384));
    EXPECT_TRUE(linux_backend::RateAccepted(250000, 245000));
    EXPECT_FALSE(linux_backend::RateAccepted(9600, 9900));
    EXPECT_FALSE(linux_backend::RateAccepted(115200, 111111));
    EXPECT_FALSE(linux_backend::RateAccepted(9600, 0));

    // Every byte arrives as sent: no CR translation, no signal or flow
    // control characters acted on, nothing echoed back to the scanner.
    const std::string sent("\x03\x11\x13\r\n\x00\x7f\xff#A", 10);
    ASSERT_TRUE(pty.Write(sent));
    std::string received;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const int b = WaitAndRead(port);
        ASSERT_GE(b, 0) << "byte " << i;
        received += static_cast<char>(b);
    }
    EXPECT_EQ(received, sent);
    pollfd echo{pty.Master(), POLLIN, 0};
    EXPECT_EQ(::poll(&echo, 1, 0), 0);
    EXPECT_TRUE(CloseHandle(port));
}

TEST_F(LinuxSerialTest, CloseFromAnotherThreadWakesAPendingWaitAndRead) {
    scratch.LinkPort(3, pty.SlaveName());
    // A read that would otherwise wait ten minutes for its byte.
    const PortHandle port = OpenAsCore(3, 600000);
    ASSERT_NE(port, kInvalidPort) << GetLastError();

    auto waiter = std::async(std::launch::async, [&] {
        std::uint32_t mask = 0;
        const bool ok = WaitCommEvent(port, &mask);
        return std::make_pair(ok, GetLastError());
    });
    std::this_thread::sleep_for(50ms);  // let it block (either order must work)
    EXPECT_TRUE(CloseHandle(port));
    ASSERT_EQ(waiter.wait_for(kHang), std::future_status::ready);
    const auto [waited, waitError] = waiter.get();
    EXPECT_FALSE(waited);
    EXPECT_TRUE(waitError == kErrorOperationAborted || waitError == kErrorInvalidHandle)
        << waitError;

    // The same for a read; and the device is free as soon as the close returns.
    const PortHandle second = OpenAsCore(3, 600000);
    ASSERT_NE(second, kInvalidPort) << GetLastError();
    auto reader = std::async(std::launch::async, [&] {
        unsigned char byte = 0;
        std::uint32_t got = 7;
        const bool ok = ReadFile(second, &byte, 1, &got);
        return std::make_pair(ok, got);
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(CloseHandle(second));
    ASSERT_EQ(reader.wait_for(kHang), std::future_status::ready);
    const auto [read, got] = reader.get();
    EXPECT_FALSE(read);
    EXPECT_EQ(got, 0u);
    const PortHandle third = OpenAsCore(3);
    EXPECT_NE(third, kInvalidPort) << GetLastError();
    CloseHandle(third);
}

TEST_F(LinuxSerialTest, PulledCableFailsTheWaitAndTheReplugOpensAgain) {
    // Nothing there yet: 55, the code the core retries on every 500 ms.
    EXPECT_EQ(OpenAsCore(4), kInvalidPort);
    EXPECT_EQ(GetLastError(), kErrorDevNotExist);
    scratch.LinkPort(4, pty.SlaveName());
    PortHandle port = OpenAsCore(4);
    ASSERT_NE(port, kInvalidPort) << GetLastError();
    ASSERT_TRUE(pty.Write("7"));
    EXPECT_EQ(WaitAndRead(port), '7');

    auto waiter = std::async(std::launch::async, [&] {
        std::uint32_t mask = 0;
        const bool ok = WaitCommEvent(port, &mask);
        return std::make_pair(ok, GetLastError());
    });
    std::this_thread::sleep_for(50ms);
    pty.Hangup();
    ASSERT_EQ(waiter.wait_for(kHang), std::future_status::ready);
    const auto [waited, error] = waiter.get();
    EXPECT_FALSE(waited);
    EXPECT_EQ(error, kErrorDeviceNotConnected);
    // A read on the dead line fails too, rather than looking like a timeout.
    unsigned char byte;
    std::uint32_t got = 0;
    EXPECT_FALSE(ReadFile(port, &byte, 1, &got));
    EXPECT_TRUE(CloseHandle(port));

    // The link now names a node that is gone: 55 until a device is back.
    EXPECT_EQ(OpenAsCore(4), kInvalidPort);
    EXPECT_EQ(GetLastError(), kErrorDevNotExist);
    Pty replugged;
    ASSERT_TRUE(replugged.Ok());
    scratch.LinkPort(4, replugged.SlaveName());
    port = OpenAsCore(4);
    ASSERT_NE(port, kInvalidPort) << GetLastError();
    ASSERT_TRUE(replugged.Write("8"));
    EXPECT_EQ(WaitAndRead(port), '8');
    EXPECT_TRUE(CloseHandle(port));
}

TEST(TtyPortTest, AHungUpLineFailsEveryWaitWithoutLooping) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    int error = -1;
    auto port = linux_backend::TtyPort::Open(pty.SlaveName().c_str(), &error);
    ASSERT_TRUE(port) << error;
    auto waiter = std::async(std::launch::async, [&] { return port->WaitForInput(); });
    std::this_thread::sleep_for(50ms);
    pty.Hangup();
    ASSERT_EQ(waiter.wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(waiter.get(), EIO);
    // The line keeps saying POLLHUP; each wait is one look, not a spin.
    EXPECT_EQ(port->WaitForInput(), EIO);
    std::size_t got = 0;
    unsigned char byte;
    EXPECT_EQ(port->Read(&byte, 1, 1000, true, &got), EIO);
    EXPECT_LE(port->PollWakeups(), 4u);
    EXPECT_EQ(port->Close(), 0);
    EXPECT_EQ(port->Close(), EBADF);
    EXPECT_EQ(port->WaitForInput(), ECANCELED);
}

TEST_F(LinuxSerialTest, AReadReturnsAtOnceWithAByteOrEmptyAfterItsTimeout) {
    scratch.LinkPort(5, pty.SlaveName());
    const PortHandle port = OpenAsCore(5, 100);
    ASSERT_NE(port, kInvalidPort) << GetLastError();
    unsigned char byte = 0;
    std::uint32_t got = 9;
    EXPECT_TRUE(ReadFile(port, &byte, 1, &got));
    EXPECT_EQ(got, 0u);
    ASSERT_TRUE(pty.Write("xy"));
    EXPECT_TRUE(ReadFile(port, &byte, 1, &got));
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(byte, 'x');
    EXPECT_TRUE(ReadFile(port, &byte, 1, &got));
    EXPECT_EQ(byte, 'y');
    EXPECT_TRUE(CloseHandle(port));
}

}  // namespace
