// The simulated platform behaves like the devices the other tests rely on:
// waits and reads that a close or an unplug wakes, the read timeout on the
// virtual clock, named events, and the virtual clock itself.
#include <thread>

#include "tests/serial/reception_fixture.h"

using namespace platform;
using namespace testing_support;

namespace {

using SimDevices = ReceptionTest;

std::uint32_t WaitOnPort(void* port) {
    std::uint32_t mask = 0;
    return WaitCommEvent(*static_cast<PortHandle*>(port), &mask) ? 1 : 0;
}

TEST_F(SimDevices, PendingWaitEndsWhenAnotherThreadClosesOrTheCableIsPulled) {
    for (bool unplug : {false, true}) {
        sim::AttachSerialDevice(1);
        ASSERT_TRUE(OpenSerialPort());
        PortHandle port = SerialPortHandle.load();
        SetCommMask(port, kEvRxChar);
        ThreadHandle waiter = CreateThread(WaitOnPort, &port, nullptr);
        ASSERT_TRUE(WaitUntil([] { return sim::BlockedThreadCount(true) == 1; }));
        if (unplug) {
            sim::DetachSerialDevice(1);
            std::uint8_t byte = 0;
            std::uint32_t read = 0;
            EXPECT_FALSE(ReadFile(port, &byte, 1, &read));  // fails until closed
        }
        CloseSerialPort();
        EXPECT_EQ(WaitForSingleObject(waiter, kInfinite), kWaitObject0);
        CloseHandle(waiter);
    }
    EXPECT_EQ(sim::SerialDoubleCloses(), 0u);
}

TEST_F(SimDevices, OneByteReadReturnsAtOnceOrEmptyAfterTheTotalTimeout) {
    ASSERT_TRUE(OpenSerialPort());
    PortHandle port = SerialPortHandle.load();
    std::uint8_t byte = 0;
    std::uint32_t read = 9;
    sim::FeedSerial(1, "Z");
    std::uint64_t start = sim::NowUs();
    EXPECT_TRUE(ReadFile(port, &byte, 1, &read));
    EXPECT_EQ(read, 1u);
    EXPECT_EQ(byte, 'Z');
    EXPECT_EQ(sim::NowUs(), start);
    EXPECT_TRUE(ReadFile(port, &byte, 1, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(sim::NowUs() - start, 1'000'000u);
    CloseSerialPort();
    // Bytes sent while the port is closed are lost, as on a real line.
    EXPECT_FALSE(sim::FeedSerial(1, "Q"));
}

TEST_F(SimDevices, NamedEventsAndWaits) {
    EventHandle first = CreateEventW(false, false, u"TREVANIX_QUORVEL_EVENT");
    EXPECT_EQ(GetLastError(), 0u);
    EventHandle second = CreateEventW(false, false, u"TREVANIX_QUORVEL_EVENT");
    EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
    EXPECT_NE(first, second);
    SetEvent(second);
    EXPECT_EQ(WaitForSingleObject(first, 0), kWaitObject0);
    EXPECT_EQ(WaitForSingleObject(first, 0), kWaitTimeout);  // automatic reset
    std::uint64_t start = sim::NowUs();
    EXPECT_EQ(WaitForSingleObject(first, 250), kWaitTimeout);
    Sleep(500);
    EXPECT_EQ(sim::NowUs() - start, 750'000u);
    CloseHandle(first);
    CloseHandle(second);
    EXPECT_EQ(WaitForSingleObject(first, 0), kWaitFailed);
}

}  // namespace
