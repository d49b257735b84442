// The Windows serial port on a real (virtual) line under Wine: the promises
// the reception thread builds on — a wait that blocks until a byte is there,
// a close from another thread that wakes it, a pulled cable that fails it,
// and 55 for a port whose device is missing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "platform/services.h"
#include "tests/platform/win32/vserial_client.h"

namespace {

using namespace platform;
using namespace std::chrono_literals;

// Far beyond any legitimate wake-up; only there so a broken wake fails the
// test instead of hanging it.
constexpr auto kHang = 10s;

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!lines.Available()) GTEST_SKIP() << "run under run_with_vserial.py";
    }

    PortHandle OpenConfigured(const char16_t* name) {
        const PortHandle port =
            CreateFileW(name, kGenericRead | kGenericWrite, 0, kOpenExisting, 0);
        if (port == kInvalidPort) return port;
        SetCommMask(port, kEvRxChar);
        CommTimeouts timeouts;
        timeouts.ReadIntervalTimeout = kMaxDword;
        timeouts.ReadTotalTimeoutConstant = 1000;
        SetCommTimeouts(port, timeouts);
        return port;
    }

    // Reads one byte the way the reception thread does: wait, then read.
    static int WaitAndRead(PortHandle port) {
        std::uint32_t mask = 0;
        if (!WaitCommEvent(port, &mask) || !(mask & kEvRxChar)) return -1;
        unsigned char byte = 0;
        std::uint32_t got = 0;
        if (!ReadFile(port, &byte, 1, &got) || got != 1) return -2;
        return byte;
    }

    VirtualSerialClient lines;
};

TEST_F(SerialPortTest, MissingDeviceReportsDevNotExistAndPortTenOpens) {
    lines.Close(9);
    SetLastError(0);
    EXPECT_EQ(CreateFileW(u"COM9:", kGenericRead | kGenericWrite, 0, kOpenExisting, 0),
              kInvalidPort);
    EXPECT_EQ(GetLastError(), kErrorDevNotExist);

    // Only the \\.\ form reaches ports above 9; "COM10:" must still open.
    ASSERT_TRUE(lines.Open(10));
    const PortHandle port = OpenConfigured(u"COM10:");
    ASSERT_NE(port, kInvalidPort) << GetLastError();
    EXPECT_TRUE(CloseHandle(port));
    lines.Close(10);
}

TEST_F(SerialPortTest, BytesArriveInOrderThroughWaitThenRead) {
    ASSERT_TRUE(lines.Open(3));
    const PortHandle port = OpenConfigured(u"COM3:");
    ASSERT_NE(port, kInvalidPort) << GetLastError();

    // The wait blocks until the first byte comes; the byte whose arrival
    // ended the wait is the first one read, nothing is lost or doubled.
    auto reader = std::async(std::launch::async, [&] {
        std::string text;
        for (int i = 0; i < 4; ++i) {
            const int b = WaitAndRead(port);
            if (b < 0) break;
            text += static_cast<char>(b);
        }
        return text;
    });
    ASSERT_TRUE(lines.Write(3, "AB"));
    ASSERT_TRUE(lines.Write(3, std::string("C\r", 2)));
    ASSERT_EQ(reader.wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(reader.get(), "ABC\r");

    // With nothing waiting, a one-byte read ends with success and nothing read.
    unsigned char byte = 0;
    std::uint32_t got = 7;
    EXPECT_TRUE(ReadFile(port, &byte, 1, &got));
    EXPECT_EQ(got, 0u);

    EXPECT_TRUE(CloseHandle(port));
    lines.Close(3);
}

TEST_F(SerialPortTest, LineSettingsReachTheDevice) {
    ASSERT_TRUE(lines.Open(4));
    const PortHandle port = OpenConfigured(u"COM4:");
    ASSERT_NE(port, kInvalidPort);
    Dcb dcb;
    ASSERT_TRUE(GetCommState(port, dcb));
    dcb.BaudRate = 19200;
    dcb.ByteSize = 7;
    dcb.fParity = 1;
    dcb.Parity = kEvenParity;
    dcb.StopBits = kTwoStopBits;
    dcb.fDtrControl = kDtrControlEnable;
    EXPECT_TRUE(SetCommState(port, dcb));
    Dcb back;
    ASSERT_TRUE(GetCommState(port, back));
    // A pty keeps the rate and the stop bits but always runs 8 data bits
    // without parity, so those two cannot be checked on it.
    EXPECT_EQ(back.BaudRate, 19200u);
    EXPECT_EQ(back.StopBits, kTwoStopBits);
    EXPECT_EQ(back.fDtrControl, kDtrControlEnable);
    EXPECT_TRUE(CloseHandle(port));
    lines.Close(4);
}

TEST_F(SerialPortTest, CloseFromAnotherThreadWakesWaitAndIsDoneOnce) {
    ASSERT_TRUE(lines.Open(5));
    const PortHandle port = OpenConfigured(u"COM5:");
    ASSERT_NE(port, kInvalidPort);

    std::atomic<bool> waiting{false};
    auto waiter = std::async(std::launch::async, [&] {
        std::uint32_t mask = 0;
        waiting = true;
        return WaitCommEvent(port, &mask);
    });
    while (!waiting) std::this_thread::yield();
    std::this_thread::sleep_for(50ms);  // let the wait get under way
    EXPECT_TRUE(CloseHandle(port));
    ASSERT_EQ(waiter.wait_for(kHang), std::future_status::ready) << "close did not wake the wait";
    EXPECT_FALSE(waiter.get());

    // The other thread's close of the same handle, and every later call, fail
    // cleanly instead of touching a released or reused handle.
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(port));
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
    std::uint32_t status = 0;
    EXPECT_FALSE(GetCommModemStatus(port, &status));
    std::uint32_t mask = 0;
    EXPECT_FALSE(WaitCommEvent(port, &mask));
    lines.Close(5);
}

TEST_F(SerialPortTest, CloseRacingAStartingWaitNeverHangs) {
    ASSERT_TRUE(lines.Open(6));
    // The close may land before, during or after the reader starts its wait
    // or its read; every order must end the reader.
    for (int round = 0; round < 40; ++round) {
        const PortHandle port = OpenConfigured(u"COM6:");
        ASSERT_NE(port, kInvalidPort);
        auto reader = std::async(std::launch::async, [&] {
            for (;;) {
                std::uint32_t mask = 0;
                if (!WaitCommEvent(port, &mask)) return;
                unsigned char byte = 0;
                std::uint32_t got = 0;
                ReadFile(port, &byte, 1, &got);
            }
        });
        if (round % 2) std::this_thread::sleep_for(std::chrono::milliseconds(round % 7));
        if (round % 3 == 0) lines.Write(6, "x");
        EXPECT_TRUE(CloseHandle(port));
        ASSERT_EQ(reader.wait_for(kHang), std::future_status::ready) << "round " << round;
    }
    lines.Close(6);
}

TEST_F(SerialPortTest, PulledCableFailsTheWaitAndThePortIsThenMissing) {
    ASSERT_TRUE(lines.Open(7));
    const PortHandle port = OpenConfigured(u"COM7:");
    ASSERT_NE(port, kInvalidPort);
    auto waiter = std::async(std::launch::async, [&] {
        std::uint32_t mask = 0;
        return WaitCommEvent(port, &mask);
    });
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(lines.Close(7));
    ASSERT_EQ(waiter.wait_for(kHang), std::future_status::ready) << "pulled cable went unnoticed";
    EXPECT_FALSE(waiter.get());
    // Every further wait fails too, rather than reporting characters that
    // never come (the reception thread would spin on those).
    std::uint32_t mask = 0;
    EXPECT_FALSE(WaitCommEvent(port, &mask));
    EXPECT_TRUE(CloseHandle(port));

    SetLastError(0);
    EXPECT_EQ(CreateFileW(u"COM7:", kGenericRead | kGenericWrite, 0, kOpenExisting, 0),
              kInvalidPort);
    EXPECT_EQ(GetLastError(), kErrorDevNotExist);

    // Plugged in again: a new line under the same name works as before.
    ASSERT_TRUE(lines.Open(7));
    const PortHandle again = OpenConfigured(u"COM7:");
    ASSERT_NE(again, kInvalidPort);
    ASSERT_TRUE(lines.Write(7, "Z"));
    EXPECT_EQ(WaitAndRead(again), 'Z');
    EXPECT_TRUE(CloseHandle(again));
    lines.Close(7);
}

}  // namespace
