// The reception thread: line buffering, the key events of each keystroke with
// their pauses, the tray status, and what it does when the port is missing,
// refused, unplugged or broken.
#include "tests/serial/reception_fixture.h"

#include "keymap/key_table.h"

using namespace platform;
using namespace testing_support;

namespace {

using Reception = ReceptionTest;

constexpr std::uint8_t C = kVkControl, M = kVkLMenu, S = kVkShift;

TEST_F(Reception, EndsAtOnceWhenNotRunningAtItsStart) {
    RunningFlag = 0;
    EXPECT_EQ(ReceptionThreadProc(nullptr), 0u);
    EXPECT_EQ(sim::SerialDevice(1).openAttempts, 0u);
    EXPECT_TRUE(sim::TrayCalls().empty());
}

TEST_F(Reception, LineWaitHoldsKeystrokesUntilHashCarriageReturnOrTheHundredth) {
    Start();
    WaitReady();

    Feed("ABC");
    WaitIdle();
    EXPECT_EQ(sim::KeyEventCount(), 0u);
    Feed("\r");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "ABC\r");

    // A line feed alone ends nothing; "#" does and is typed as the last key.
    sim::ResetKeyboard();
    Feed("12\n3");
    WaitIdle();
    EXPECT_EQ(sim::KeyEventCount(), 0u);
    Feed("#");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "1233");

    // With no line end, the 100th keystroke flushes and the 101st starts a line.
    sim::ResetKeyboard();
    Feed(std::string(99, '7'));
    WaitIdle();
    EXPECT_EQ(sim::KeyEventCount(), 0u);
    Feed("78");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), std::string(100, '7'));
    Feed("\r");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), std::string(100, '7') + "8\r");
    EXPECT_TRUE(KeysLeftDown(sim::KeyEvents()).empty());
}

TEST_F(Reception, LineWaitOffTypesEveryByteAsItArrives) {
    Start();
    WaitReady();
    LineWaitFlag = 0;
    Feed("A");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "A");
    Feed("1");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "A1");
    // The flag is read for every byte: turning it back on buffers again.
    LineWaitFlag = 1;
    Feed("2");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "A1");
}

TEST_F(Reception, BytesWithoutAKeyAreNotTypedButLineEndsStillFlush) {
    KeyTable['\r'] = {0, 0, 0};
    KeyTable['#'] = {0, 0, 0};
    KeyTable['!'] = {0, 0, 0x1C5};  // only the low 8 bits are a key
    Start();
    WaitReady();
    Feed("A~B\r");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "AB");
    // An empty buffer types nothing.
    Feed("\r#~");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "AB");
    Feed("!#");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "AB\xC5");
}

TEST_F(Reception, EachKeystrokeSetsItsModifiersAndTheLineLetsGoOfThem) {
    Start();
    WaitReady();
    // "1": no modifier, six events. "A": Shift, five events, Shift stays
    // down into the next keystroke. "@": AltGr.
    Feed("1\r");
    WaitIdle();
    // One keystroke per line.
    // clang-format off
    EXPECT_EQ(Strokes(sim::KeyEvents()), (std::vector<Stroke>{
        Release(C), Release(M), Release(S), Press('1'), Release('1'), Release(S),
        Release(C), Release(M), Release(S), Press(kVkReturn), Release(kVkReturn), Release(S)}));

    sim::ResetKeyboard();
    Feed("A1#");
    WaitIdle();
    EXPECT_EQ(Strokes(sim::KeyEvents()), (std::vector<Stroke>{
        Release(C), Release(M), Press(S), Press('A'), Release('A'),
        Release(C), Release(M), Release(S), Press('1'), Release('1'), Release(S),
        Release(C), Release(M), Press(S), Press('3'), Release('3'),
        Release(S)}));  // the line ends with Shift down: let go of it

    sim::ResetKeyboard();
    Feed("@\r@#");
    WaitIdle();
    EXPECT_EQ(Strokes(sim::KeyEvents()), (std::vector<Stroke>{
        Press(C), Press(M), Release(S), Press('2'), Release('2'), Release(S),
        Release(C), Release(M), Release(S), Press(kVkReturn), Release(kVkReturn), Release(S),
        Press(C), Press(M), Release(S), Press('2'), Release('2'), Release(S),
        Release(C), Release(M), Press(S), Press('3'), Release('3'),
        Release(S)}));
    // clang-format on

    // A line whose last key has AltGr and Shift lets go of all three.
    sim::ResetKeyboard();
    KeyTable['@'] = {1, 1, '2'};
    LineWaitFlag = 0;
    Feed("@");
    WaitIdle();
    auto strokes = Strokes(sim::KeyEvents());
    ASSERT_GE(strokes.size(), 3u);
    EXPECT_EQ(std::vector<Stroke>(strokes.end() - 3, strokes.end()),
              (std::vector<Stroke>{Release(S), Release(M), Release(C)}));
    EXPECT_TRUE(KeysLeftDown(sim::KeyEvents()).empty());

    for (const auto& e : sim::KeyEvents()) {
        EXPECT_EQ(e.flags, (e.flags & kKeyEventFKeyUp) ? 0x0006u : 0x0004u);
        EXPECT_EQ(e.scanCode, 0);
        EXPECT_EQ(e.extraInfo, 0u);
    }
}

TEST_F(Reception, EveryEventIsFollowedByTheStrokeDelayAndNoneWithoutOne) {
    Start();
    WaitReady();
    std::size_t pausesBefore = sim::PauseCount();
    Feed("A1\r");
    WaitIdle();
    EXPECT_EQ(sim::KeyEventCount(), 5u + 6u + 6u);
    EXPECT_EQ(sim::PauseCount(), pausesBefore);
    for (const auto& e : sim::KeyEvents()) EXPECT_EQ(e.timeUs, sim::KeyEvents()[0].timeUs);

    // 20 ms: "A" carries five pauses, "1" six, the release of the line's
    // Shift one more; the next event always comes exactly one delay later.
    SerialSettings.strokeDelay = 20;
    sim::ResetKeyboard();
    Feed("A1A#");
    WaitIdle();
    auto events = sim::KeyEvents();
    ASSERT_EQ(events.size(), 5u + 6u + 5u + 5u + 1u);
    for (std::size_t i = 1; i < events.size(); ++i)
        EXPECT_EQ(events[i].timeUs - events[i - 1].timeUs, 20'000u) << i;
    EXPECT_EQ(sim::PauseCount() - pausesBefore, events.size());
}

TEST_F(Reception, TrayTipFollowsThePort) {
    Start();
    WaitReady();
    Stop();
    ASSERT_TRUE(WaitUntil([this] { return ReceptionThreadEnded(thread); }));
    auto calls = sim::TrayCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].message, kNimModify);
    EXPECT_EQ(std::u16string(calls[0].data.szTip), u"LS3578 ready");
    EXPECT_EQ(calls[0].data.hIcon, ReadyIcon);
    EXPECT_EQ(std::u16string(calls[1].data.szTip), u"LS3578 not ready");
    EXPECT_EQ(calls[1].data.hIcon, NotReadyIcon);
    EXPECT_EQ(sim::SerialDevice(1).opens, 1u);
    EXPECT_EQ(sim::SerialDevice(1).closes, 1u);
    EXPECT_EQ(sim::SerialDoubleCloses(), 0u);

    // Stop as the dialog does it, racing the woken thread's own update:
    // either spelling may come last, always with the not-ready icon.
    sim::ResetTray();
    Start();
    WaitReady();
    Stop();
    SetTrayStatus(u"LS3578 Not Ready", NotReadyIcon);
    ASSERT_TRUE(WaitUntil([this] { return ReceptionThreadEnded(thread); }));
    calls = sim::TrayCalls();
    ASSERT_EQ(calls.size(), 3u);
    std::u16string last = calls.back().data.szTip;
    EXPECT_TRUE(last == u"LS3578 Not Ready" || last == u"LS3578 not ready");
    EXPECT_EQ(calls.back().data.hIcon, NotReadyIcon);
    EXPECT_EQ(TrayIconRecord.hIcon, NotReadyIcon);
}

TEST_F(Reception, MissingDeviceIsRetriedEveryHalfSecondSilently) {
    sim::DetachSerialDevice(1);
    Start();
    ASSERT_TRUE(WaitUntil([] { return sim::SerialDevice(1).openAttempts >= 4; }));
    auto times = sim::SerialDevice(1).openAttemptTimesUs;
    for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(times[i] - times[i - 1], 500'000u);
    EXPECT_TRUE(sim::TrayCalls().empty());
    EXPECT_TRUE(sim::MessageBoxes().empty());

    // The device turns up: the next attempt opens it.
    sim::AttachSerialDevice(1);
    WaitReady();
    Feed("A\r");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "A\r");

    // Stopped while retrying: ends within one pause.
    sim::DetachSerialDevice(1);
    ASSERT_TRUE(WaitUntil([] { return sim::SerialDevice(1).openAttempts >= 8; }));
    std::uint64_t stoppedAt = sim::NowUs();
    Stop();
    ASSERT_TRUE(WaitUntil([this] { return ReceptionThreadEnded(thread); }));
    EXPECT_LE(sim::ThreadEndedAtUs(thread) - stoppedAt, 500'000u);
}

TEST_F(Reception, OtherOpenFailureShowsOneMessageThenGivesUp) {
    sim::SetMessageBoxAutoDismiss(false);
    // Another program holds the port: the exclusive open is refused.
    PortHandle other = CreateFileW(u"COM1:", kGenericRead | kGenericWrite, 0, kOpenExisting, 0);
    ASSERT_NE(other, kInvalidPort);
    Start();
    ASSERT_TRUE(sim::WaitForMessageBoxes(1, 20'000));
    auto box = sim::MessageBoxes().at(0);
    EXPECT_EQ(box.text, u"Ouverture du port série impossible (5)");
    EXPECT_EQ(box.caption, u"Erreur");
    EXPECT_EQ(box.owner, kNoWindow);
    // While the box is up the thread waits in it, still running.
    EXPECT_EQ(RunningFlag.load(), 1);
    EXPECT_FALSE(ReceptionThreadEnded(thread));

    ASSERT_TRUE(sim::DismissMessageBox());
    ASSERT_TRUE(WaitUntil([this] { return ReceptionThreadEnded(thread); }));
    EXPECT_EQ(RunningFlag.load(), 0);
    EXPECT_EQ(sim::SerialDevice(1).openAttempts, 2u);  // the other program's and ours
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_TRUE(sim::TrayCalls().empty());
    CloseHandle(other);

    // Any code but 55 is final, and shown signed.
    sim::FailNextOpen(1, 0xFFFFFFFEu);
    Start();
    ASSERT_TRUE(sim::WaitForMessageBoxes(2, 20'000));
    EXPECT_EQ(sim::MessageBoxes().at(1).text, u"Ouverture du port série impossible (-2)");
    sim::DismissMessageBox();
}

TEST_F(Reception, ALineConfigurationTheDriverRefusesIsAFailedOpen) {
    sim::SetMessageBoxAutoDismiss(false);
    // 1.5 stop bits with 8 data bits: the driver keeps its old settings, and
    // the scanner's bytes would arrive garbled under a "ready" tip.
    SerialSettings.dataBits = 8;
    SerialSettings.stopBits = 1;
    Start();
    ASSERT_TRUE(sim::WaitForMessageBoxes(1, 20'000));
    EXPECT_EQ(sim::MessageBoxes().at(0).text, u"Ouverture du port série impossible (87)");
    EXPECT_EQ(sim::MessageBoxes().at(0).caption, u"Erreur");
    ASSERT_TRUE(sim::DismissMessageBox());
    ASSERT_TRUE(WaitUntil([this] { return ReceptionThreadEnded(thread); }));
    EXPECT_EQ(RunningFlag.load(), 0);
    EXPECT_TRUE(sim::TrayCalls().empty());  // never "ready"
    EXPECT_FALSE(sim::SerialDevice(1).open);
    EXPECT_EQ(sim::SerialDevice(1).openAttempts, 1u);
    EXPECT_EQ(SerialPortHandle.load(), kInvalidPort);
    EXPECT_EQ(sim::SerialDoubleCloses(), 0u);
}

TEST_F(Reception, UnpluggedMidLineLosesNothingAndTypesNothingTwice) {
    Start();
    WaitReady();
    Feed("AB");
    WaitIdle();
    sim::DetachSerialDevice(1);
    // The wait fails: not ready, port closed, then retries while missing.
    ASSERT_TRUE(WaitUntil([] {
        auto port = sim::SerialDevice(1);
        return !port.open && port.openAttempts >= 3;
    }));
    auto calls = sim::TrayCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(std::u16string(calls[1].data.szTip), u"LS3578 not ready");
    EXPECT_EQ(sim::SerialDevice(1).closes, 1u);

    sim::AttachSerialDevice(1);
    WaitReady();
    Feed("C\r");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "ABC\r");
    EXPECT_EQ(std::u16string(sim::TrayCalls().back().data.szTip), u"LS3578 ready");
}

TEST_F(Reception, AFailedReadThatHandsBackItsByteIsFollowedByMoreReadsWithoutANewEvent) {
    // One event, then reads until one comes back empty: a read that fails
    // yet hands back its byte does not end them. (The simulated port reports
    // an event while bytes wait, so only the count of events tells.)
    Start();
    WaitReady();
    const std::uint32_t events = sim::SerialDevice(1).eventsReported;
    sim::FailReadsHandingBackTheirByte(1, 2, kErrorGenFailure);
    Feed("XYAB\r");
    WaitIdle();
    const std::string typed = TypedKeys(sim::KeyEvents());
    EXPECT_EQ(typed.substr(typed.size() - 3), "AB\r");
    EXPECT_EQ(sim::SerialDevice(1).eventsReported, events + 1);
    EXPECT_TRUE(sim::SerialDevice(1).open);
}

TEST_F(Reception, APortThatFailsAtOnceIsReopenedOnlyEveryHalfSecond) {
    sim::BreakSerialDevice(1, true);
    Start();
    ASSERT_TRUE(WaitUntil([] { return sim::SerialDevice(1).opens >= 4; }));
    auto port = sim::SerialDevice(1);
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_EQ(port.openAttemptTimesUs[i] - port.openAttemptTimesUs[i - 1], 500'000u);
    Stop();
}

TEST_F(Reception, StopEndsTheLineBeingTypedAtTheNextKeyEvent) {
    SerialSettings.strokeDelay = 20;
    Start();
    WaitReady();
    sim::HoldClock(true);
    Feed("ABCDEF\r");
    ASSERT_TRUE(WaitUntil([] { return sim::KeyEventCount() >= 1; }));
    Stop();
    WaitUntilTypingStopped();
    const std::size_t atStop = sim::KeyEventCount();
    sim::HoldClock(false);
    ASSERT_TRUE(WaitUntil([this] { return ReceptionThreadEnded(thread); }));
    const auto events = sim::KeyEvents();
    for (std::size_t i = atStop; i < events.size(); ++i)
        EXPECT_NE(events[i].flags & platform::kKeyEventFKeyUp, 0u) << "press after Stop: " << i;
    EXPECT_EQ(TypedKeys(events), "");
    EXPECT_TRUE(KeysLeftDown(sim::KeyEvents()).empty());
    EXPECT_EQ(sim::SerialDevice(1).opens, 1u);
    EXPECT_EQ(sim::SerialDevice(1).closes, 1u);
}

TEST_F(Reception, ANewThreadStartsWithAnEmptyBuffer) {
    Start();
    WaitReady();
    Feed("AB");
    WaitIdle();
    Stop();
    Start();
    WaitReady();
    Feed("C\r");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "C\r");
}

TEST_F(Reception, StartDoesNotBlockOnTheEarlierThreadsMessage) {
    sim::SetMessageBoxAutoDismiss(false);
    sim::FailNextOpen(1, 31);
    Start();
    ASSERT_TRUE(sim::WaitForMessageBoxes(1, 20'000));
    Start();  // dismisses the stale message and waits for that thread to end
    WaitReady();
    EXPECT_EQ(sim::OpenMessageBoxCount(), 0u);
    EXPECT_EQ(RunningFlag.load(), 1);
    EXPECT_EQ(sim::MaxConcurrentThreads(), 1u);
}

}  // namespace
