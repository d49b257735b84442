// Start and Stop over and over while a scanner keeps sending: never two
// reception threads, every open closed exactly once, no handle left behind.
#include <atomic>
#include <chrono>
#include <thread>

#include "tests/serial/reception_fixture.h"

using namespace platform;
using namespace testing_support;

namespace {

using StartStop = ReceptionTest;

TEST_F(StartStop, AThousandCyclesWithBytesFlowing) {
    // Every key event must fit the keyboard's record, however slowly a
    // sanitizer makes the cycles run: the scanner falls silent well before.
    constexpr std::size_t kRecord = std::size_t{1} << 21;
    sim::ResetKeyboard(kRecord);
    std::size_t handlesBefore = sim::OpenObjectHandleCount();
    std::atomic<bool> scanning{true};
    std::thread scanner([&] {
        while (scanning.load() && sim::KeyEventCount() < kRecord / 4) {
            sim::FeedSerial(1, "A1@#B2\r");
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    for (int cycle = 0; cycle < 1000; ++cycle) {
        Start();
        if (cycle % 3 == 0) WaitReady();  // sometimes stop before the port is even open
        Stop();
    }
    AwaitReceptionThreadEnd(thread);
    thread = kNoThread;
    scanning = false;
    scanner.join();

    EXPECT_EQ(sim::ThreadsCreated(), 1000u);
    EXPECT_EQ(sim::MaxConcurrentThreads(), 1u);
    EXPECT_EQ(sim::AliveThreadCount(), 0u);
    EXPECT_EQ(sim::OpenObjectHandleCount(), handlesBefore);
    auto port = sim::SerialDevice(1);
    EXPECT_FALSE(port.open);
    EXPECT_GE(port.opens, 334u);
    EXPECT_EQ(port.closes, port.opens);
    EXPECT_EQ(sim::SerialDoubleCloses(), 0u);
    ASSERT_LE(sim::KeyEventCount(), kRecord);
    EXPECT_GT(sim::KeyEventCount(), 0u);
    EXPECT_TRUE(KeysLeftDown(sim::KeyEvents()).empty());
}

}  // namespace
