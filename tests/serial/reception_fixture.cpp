// Shared set-up and helpers of the serial tests.
#include "tests/serial/reception_fixture.h"

#include <chrono>
#include <thread>
#include "keymap/key_table.h"
#include "tests/serial/sim_reset.h"

using namespace platform;

namespace testing_support {

bool WaitUntil(const std::function<bool()>& condition) {
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > give_up) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

std::vector<Stroke> Strokes(const std::vector<sim::KeyEvent>& events) {
    std::vector<Stroke> strokes;
    for (const auto& e : events)
        strokes.push_back({e.virtualKey, (e.flags & kKeyEventFKeyUp) != 0});
    return strokes;
}

std::string TypedKeys(const std::vector<sim::KeyEvent>& events) {
    std::string typed;
    for (const auto& e : events) {
        bool modifier =
            e.virtualKey == kVkShift || e.virtualKey == kVkControl || e.virtualKey == kVkLMenu;
        if (!modifier && (e.flags & kKeyEventFKeyUp) == 0) typed += char(e.virtualKey);
    }
    return typed;
}

std::vector<std::uint8_t> KeysLeftDown(const std::vector<sim::KeyEvent>& events) {
    bool down[256] = {};
    for (const auto& e : events) down[e.virtualKey] = (e.flags & kKeyEventFKeyUp) == 0;
    std::vector<std::uint8_t> keys;
    for (int k = 0; k < 256; ++k)
        if (down[k]) keys.push_back(std::uint8_t(k));
    return keys;
}

void ReceptionTest::SetUp() {
    ResetReceptionPlatform();

    SerialSettings = {};

    for (KeyTableEntry& entry : KeyTable) entry = {};
    SerialSettings.port = 1;
    SerialSettings.baudRate = 9600;
    SerialSettings.dataBits = 8;
    // Letters and digits type their own key; "#" is Shift+3 as on a US
    // keyboard; "@" is AltGr+2 as on a German one; CR types Return.
    for (int c = 'A'; c <= 'Z'; ++c) KeyTable[c] = {0, 0, std::uint16_t(c)};
    for (int c = 'a'; c <= 'z'; ++c) KeyTable[c] = {0, 0, std::uint16_t(c - 32)};
    for (int c = '0'; c <= '9'; ++c) KeyTable[c] = {0, 0, std::uint16_t(c)};
    for (int c = 'A'; c <= 'Z'; ++c) KeyTable[c].shift = 1;
    KeyTable['#'] = {1, 0, '3'};
    KeyTable['@'] = {0, 1, '2'};
    KeyTable['\r'] = {0, 0, kVkReturn};

    RunningFlag = 1;
    LineWaitFlag = 1;
    ReadyIcon = sim::FakeIcon(128);
    NotReadyIcon = sim::FakeIcon(130);
    sim::AttachSerialDevice(1);
}

void ReceptionTest::TearDown() {
    sim::HoldClock(false);
    QuitReception(thread);
    thread = kNoThread;
    AwaitReceptionThreadEnd(kNoThread);
    EXPECT_EQ(sim::AliveThreadCount(), 0u);
}

void ReceptionTest::Start() {
    AwaitReceptionThreadEnd(thread);
    RunningFlag = 1;
    thread = CreateThread(ReceptionThreadProc, nullptr, nullptr);
    ASSERT_NE(thread, kNoThread);
}

void ReceptionTest::Stop() {
    RunningFlag = 0;
    CloseSerialPort();
}

void ReceptionTest::WaitReady() {
    ASSERT_TRUE(WaitUntil([] {
        auto port = sim::SerialDevice(1);
        return port.open && port.callsSinceOpen.size() == 4 &&
               sim::BlockedThreadCount(true) == sim::AliveThreadCount();
    }));
}

void ReceptionTest::WaitIdle() {
    ASSERT_TRUE(WaitUntil([] {
        return sim::SerialDevice(1).pendingBytes == 0 &&
               sim::BlockedThreadCount(true) == sim::AliveThreadCount();
    }));
}

void ReceptionTest::Feed(const std::string& bytes) {
    ASSERT_TRUE(sim::FeedSerial(1, bytes));
}

}  // namespace testing_support
