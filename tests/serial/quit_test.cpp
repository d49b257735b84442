// Quitting from the tray icon, wherever the reception thread stands: it ends
// within a second, sends nothing after the quit but releases of keys it left
// down, leaves the port closed and the running flag clear.
#include "tests/serial/reception_fixture.h"

using namespace platform;
using namespace testing_support;

namespace {

class Quit : public ReceptionTest {
  protected:
    // Quits and checks what every quit promises.
    void QuitNow() {
        eventsBeforeQuit = sim::KeyEventCount();
        quitAt = sim::NowUs();
        ThreadHandle quitting = thread;
        thread = kNoThread;  // QuitReception releases it
        QuitReception(quitting);
        EXPECT_EQ(sim::AliveThreadCount(), 0u);
        EXPECT_LT(sim::NowUs() - quitAt, 1'000'000u);
        EXPECT_EQ(RunningFlag.load(), 0);
        EXPECT_FALSE(sim::SerialDevice(1).open);
        EXPECT_EQ(sim::SerialDoubleCloses(), 0u);
        auto events = sim::KeyEvents();
        for (std::size_t i = eventsBeforeQuit; i < events.size(); ++i)
            EXPECT_NE(events[i].flags & kKeyEventFKeyUp, 0u) << "press after the quit, event " << i;
        EXPECT_TRUE(KeysLeftDown(events).empty());
    }

    std::size_t eventsBeforeQuit = 0;
    std::uint64_t quitAt = 0;
};

TEST_F(Quit, WhileTypingStopsAtOnceAndLetsGoOfHeldKeys) {
    SerialSettings.strokeDelay = 50;
    Start();
    WaitReady();
    sim::HoldClock(true);
    Feed("@A@A\r");
    // Caught in the pause after the AltGr key's press: Control, left Alt and
    // the key itself are down.
    for (std::size_t sent = 1;; ++sent) {
        ASSERT_TRUE(WaitUntil(
            [&] { return sim::KeyEventCount() == sent && sim::BlockedThreadCount() == 1; }));
        if (sent == 4) break;
        sim::AdvanceClock(50'000);
    }
    QuitNow();
    auto events = sim::KeyEvents();
    EXPECT_EQ(events.size(), 4u + 3u);
    EXPECT_EQ(TypedKeys(events), "2");
}

TEST_F(Quit, WhileWaitingForBytes) {
    Start();
    WaitReady();
    Feed("AB");  // half a line, never typed
    WaitIdle();
    QuitNow();
    EXPECT_EQ(sim::KeyEventCount(), 0u);
    EXPECT_EQ(sim::SerialDevice(1).closes, 1u);
}

TEST_F(Quit, WhileRetryingAMissingDevice) {
    sim::DetachSerialDevice(1);
    sim::HoldClock(true);
    Start();
    ASSERT_TRUE(WaitUntil(
        [] { return sim::SerialDevice(1).openAttempts == 1 && sim::BlockedThreadCount() == 1; }));
    QuitNow();
    EXPECT_EQ(sim::SerialDevice(1).openAttempts, 1u);
}

TEST_F(Quit, WhileTheOpenFailureMessageIsShown) {
    sim::SetMessageBoxAutoDismiss(false);
    sim::FailNextOpen(1, 1);
    Start();
    ASSERT_TRUE(sim::WaitForMessageBoxes(1, 20'000));
    QuitNow();
    EXPECT_EQ(sim::OpenMessageBoxCount(), 0u);
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);
}

TEST_F(Quit, WithNoThreadAndStartingAgainAfterwards) {
    QuitNow();
    // Only a test starts again after a quit; it must still work.
    Start();
    WaitReady();
    Feed("A\r");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "A\r");
}

}  // namespace
