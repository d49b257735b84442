// The whole program as a user meets it: it opens, starts reception by itself
// and hides in the tray; the tray icon shows and hides it or quits; Stop and
// Start with new settings; the ways it refuses to run.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/resources/dialog_template.h"
#include "app/run_state.h"
#include "app/wedge_dlg.h"
#include "platform/reports.h"
#include "platform/sim/files.h"
#include "platform/sim/framework.h"
#include "platform/sim/keyboard.h"
#include "platform/sim/layout.h"
#include "platform/sim/serial.h"
#include "platform/sim/shell.h"
#include "platform/sim/threads.h"
#include "settings/general_settings.h"
#include "tests/app/program_test_support.h"

using namespace platform;
using namespace resources;
using namespace program_test;

namespace {

const int kSettingsControls[] = {
    IDC_PORT_LABEL, IDC_PORT,           IDC_DATA_LABEL,     IDC_DATA,         IDC_STOP_LABEL,
    IDC_STOP,       IDC_BAUDRATE_LABEL, IDC_BAUDRATE,       IDC_PARITY_LABEL, IDC_PARITY,
    IDC_KEYBOARD,   IDC_SERIAL_GROUP,   IDC_KEYBOARD_GROUP,
};

std::string TypedKeys() {
    std::string typed;
    for (const auto& e : sim::KeyEvents()) {
        const bool modifier =
            e.virtualKey == kVkShift || e.virtualKey == kVkControl || e.virtualKey == kVkLMenu;
        if (!modifier && (e.flags & kKeyEventFKeyUp) == 0) typed += char(e.virtualKey);
    }
    return typed;
}

int SettingsShown() {
    int shown = 0;
    for (int id : kSettingsControls) shown += sim::ControlVisible(id) ? 1 : 0;
    return shown;
}

using ProgramStartTest = ProgramTest;

TEST_F(ProgramStartTest, OpensWithTheLogoAndStartsByItselfAtTheFirstTick) {
    Launch();
    ASSERT_EQ(sim::GetDialogPhase(), sim::DialogPhase::Modal);

    // Opening: only the logo shows; the settings are loaded into the combos.
    EXPECT_EQ(sim::Caption(), u"QuorvelCE");
    EXPECT_TRUE(sim::DialogShown());
    EXPECT_EQ(SettingsShown(), 0);
    EXPECT_FALSE(sim::ControlVisible(IDC_START_STOP));
    EXPECT_TRUE(sim::ControlVisible(IDC_LOGO));
    EXPECT_EQ(sim::ComboSelectedText(IDC_PORT), u"1");
    EXPECT_EQ(sim::ComboSelectedText(IDC_DATA), u"8");
    EXPECT_EQ(sim::ComboSelectedText(IDC_STOP), u"1");
    EXPECT_EQ(sim::ComboSelectedText(IDC_BAUDRATE), u"9600");
    EXPECT_EQ(sim::ComboSelectedText(IDC_PARITY), u"NONE");
    EXPECT_EQ(sim::ComboSelectedText(IDC_KEYBOARD), u"US");
    EXPECT_EQ(sim::ControlCheck(IDC_ACTIVE), kBstChecked);
    EXPECT_EQ(sim::WindowIcon(kIconBig), sim::FakeIcon(128));
    EXPECT_EQ(sim::WindowIcon(kIconSmall), sim::FakeIcon(128));
    EXPECT_TRUE(TrayIconShown());
    EXPECT_EQ(TrayTip(), u"LS3578 Not Ready");
    EXPECT_EQ(TrayIcon(), sim::FakeIcon(130));
    ASSERT_FALSE(sim::TrayCalls().empty());
    EXPECT_EQ(sim::TrayCalls().front().data.hWnd, sim::DialogWindow());
    EXPECT_EQ(sim::ArmedTimers(), std::vector<std::uintptr_t>{kAutoStartTimer});
    EXPECT_EQ(sim::ThreadsCreated(), 0u);

    const std::string before = Contents();
    AutoStartAndWaitReady();

    const std::vector<std::u16string> captions = {
        u"QuorvelCE", u"QuorvelCE - Reading Keyboard Table...", u"QuorvelCE - Saving Parameters...",
        u"QuorvelCE - Starting...", u"QuorvelCE - Started"};
    EXPECT_EQ(sim::CaptionHistory(), captions);
    EXPECT_FALSE(sim::DialogShown());
    const auto calls = sim::ShowWindowCalls();
    std::vector<int> dialogCalls;
    for (const auto& call : calls)
        if (call.controlId == 0) dialogCalls.push_back(call.command);
    EXPECT_EQ(dialogCalls, (std::vector<int>{kSwMinimize, kSwHide}));
    // The button appears only now, labelled for what it does next.
    EXPECT_TRUE(sim::ControlVisible(IDC_START_STOP));
    EXPECT_EQ(sim::ControlText(IDC_START_STOP), u"Stop");
    EXPECT_EQ(sim::ArmedTimers(), std::vector<std::uintptr_t>{kLineWatchTimer});
    EXPECT_EQ(TrayIcon(), sim::FakeIcon(128));
    EXPECT_EQ(sim::ThreadsCreated(), 1u);
    EXPECT_EQ(sim::SerialDevice(1).dcb.BaudRate, 9600u);
    // Start saves the general keys: same values, so the same file.
    EXPECT_EQ(Contents(), before);
    EXPECT_EQ(sim::FileCalls().replaces, 6u);

    // A scan is typed, and the line watch runs on its tick.
    ASSERT_TRUE(sim::FeedSerial(1, "AB\r"));
    ASSERT_TRUE(WaitUntil([] { return TypedKeys() == "AB\r"; }));
    const auto statusCalls = sim::SerialDevice(1).modemStatusCalls;
    EXPECT_TRUE(sim::FireTimer(kLineWatchTimer));
    EXPECT_GT(sim::SerialDevice(1).modemStatusCalls, statusCalls);

    EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(ProgramStartTest, ASecondInstanceEndsAtOnceSilentlyAndLeavesNoTrayIcon) {
    // The first instance holds the event.
    const EventHandle first = CreateEventW(false, false, kInstanceEventName);
    ASSERT_NE(first, kNoEvent);

    Launch();
    ASSERT_TRUE(WaitForExit());
    EXPECT_EQ(exitCode_, 0);
    EXPECT_EQ(sim::DialogResult(), 0);
    EXPECT_TRUE(sim::MessageBoxes().empty());
    // The rest of the start-up still ran, and the window's end undid it.
    EXPECT_FALSE(TrayIconShown());
    ASSERT_FALSE(sim::TrayCalls().empty());
    EXPECT_EQ(sim::TrayCalls().back().message, kNimDelete);
    EXPECT_EQ(sim::ThreadsCreated(), 0u);
    EXPECT_EQ(sim::SerialDevice(1).openAttempts, 0u);
    EXPECT_EQ(RunningFlag.load(), 0);

    // The first instance's event is untouched: a third start is refused too.
    sim::ResetTray();
    Launch();
    ASSERT_TRUE(WaitForExit());
    EXPECT_FALSE(TrayIconShown());
    CloseHandle(first);

    // With the first gone, a new start runs.
    Launch();
    EXPECT_EQ(sim::GetDialogPhase(), sim::DialogPhase::Modal);
}

TEST_F(ProgramStartTest, CombosSelectTheLoadedValuesEvenWhereOneIsAPrefixOfAnother) {
    const char* const rates[] = {"256000", "128000", "115200", "57600", "56000",
                                 "38400",  "19200",  "14400",  "9600",  "4800",
                                 "2400",   "1200",   "600",    "300",   "110"};
    for (const char* rate : rates) {
        SCOPED_TRACE(rate);
        Put(GeneralWith("BAUDRATE", std::string("BAUDRATE = ") + rate, "[US]\r\n"));
        Launch();
        const std::u16string expected(rate, rate + std::char_traits<char>::length(rate));
        EXPECT_EQ(sim::ComboSelectedText(IDC_BAUDRATE), expected);
        Close();
    }

    // "1" also begins "10": port 1 must still select the first item.
    for (int port : {1, 2, 10}) {
        SCOPED_TRACE(port);
        Put(GeneralWith("COM", "COM = " + std::to_string(port), "[US]\r\n"));
        Launch();
        EXPECT_EQ(sim::ComboItems(IDC_PORT).size(), 10u);
        EXPECT_EQ(sim::ComboItems(IDC_PORT).back(), u"10");
        EXPECT_EQ(sim::ComboSelection(IDC_PORT), port - 1);
        Close();
    }

    // Parity and stop bits are selected by position, data bits by text.
    Put(GeneralWith("PARITY", "PARITY = MARK", "[US]\r\n"));
    Launch();
    EXPECT_EQ(sim::ComboSelectedText(IDC_PARITY), u"MARK");
    Close();
    Put(GeneralWith("STOP", "STOP = 1.5", "[US]\r\n"));
    Launch();
    EXPECT_EQ(sim::ComboSelectedText(IDC_STOP), u"1.5");
    Close();
    Put(GeneralWith("DATA", "DATA = 5", "[US]\r\n"));
    Launch();
    EXPECT_EQ(sim::ComboSelectedText(IDC_DATA), u"5");
    Close();
}

// Windows numbers USB adapters well above 10: those present follow 1 to 10,
// by name where the system gives one, and a saved one is opened and kept.
TEST_F(ProgramStartTest, PortsPresentAboveTenAreListedOpenedAndSavedBack) {
    sim::AttachSerialDevice(12);
    sim::SetSerialDeviceName(12, u"USB Serial Device");
    sim::AttachSerialDevice(200);
    Put(GeneralWith("COM", "COM = 12", "[US]\r\n65 = 41\r\n"));
    Launch();
    const std::vector<std::u16string> items = sim::ComboItems(IDC_PORT);
    ASSERT_EQ(items.size(), 12u);
    EXPECT_EQ(items[9], u"10");
    EXPECT_EQ(items[10], u"12 - USB Serial Device");
    EXPECT_EQ(items[11], u"200");
    EXPECT_EQ(sim::ComboSelection(IDC_PORT), 10);
    AutoStartAndWaitReady();
    EXPECT_EQ(sim::SerialOpenNames().back(), u"COM12:");
    ASSERT_TRUE(sim::FeedSerial(12, "A#"));
    ASSERT_TRUE(WaitUntil([] { return TypedKeys() == "A"; }));
    EXPECT_NE(Contents().find("COM = 12"), std::string::npos);

    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    ASSERT_TRUE(sim::ClickButton(IDC_START_STOP));
    ASSERT_TRUE(sim::PickComboItem(IDC_PORT, 11));
    ClickStartAfterStop();
    EXPECT_EQ(sim::SerialOpenNames().back(), u"COM200:");
    EXPECT_NE(Contents().find("COM = 200"), std::string::npos);

    // The adapter unplugged before the next run: its port is still the
    // user's, listed, selected, tried and saved as it was.
    Close();
    sim::DetachSerialDevice(12);
    Put(GeneralWith("COM", "COM = 12", "[US]\r\n65 = 41\r\n"));
    Launch();
    const std::vector<std::u16string> absent = sim::ComboItems(IDC_PORT);
    ASSERT_EQ(absent.size(), 12u);
    EXPECT_EQ(absent[10].substr(0, 2), u"12");
    EXPECT_EQ(absent[11], u"200");
    EXPECT_EQ(sim::ComboSelection(IDC_PORT), 10);
    ASSERT_TRUE(sim::FireTimer(kAutoStartTimer));
    ASSERT_TRUE(WaitUntil([] { return sim::SerialDevice(12).openAttempts >= 1; }));
    EXPECT_NE(Contents().find("COM = 12"), std::string::npos);
}

using KeyboardComboTest = ProgramTest;

TEST_F(KeyboardComboTest, NamesAreListedAlphabeticallyAndThePickedOneIsSaved) {
    Put(GeneralWith("KEYTABLE", "KEYTABLE = Alpha", "[Zulu]\r\n65 = 5A\r\n[Alpha]\r\n65 = 41\r\n"));
    Launch();
    // The active keyboard layout is offered beside the file's tables.
    EXPECT_EQ(sim::ComboItems(IDC_KEYBOARD),
              (std::vector<std::u16string>{u"Active keyboard layout", u"Alpha", u"Zulu"}));
    EXPECT_EQ(sim::ComboSelectedText(IDC_KEYBOARD), u"Alpha");
    AutoStartAndWaitReady();

    // Show, Stop, pick the section that stands first in the file, Start.
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    ASSERT_TRUE(sim::ClickButton(IDC_START_STOP));
    ASSERT_TRUE(sim::PickComboItem(IDC_KEYBOARD, 2));
    ClickStartAfterStop();
    EXPECT_EQ(std::u16string(SerialSettings.keyTableName), u"Zulu");
    EXPECT_NE(Contents().find("KEYTABLE = Zulu"), std::string::npos);
    // The table in use is the picked one: byte "A" types Z now.
    ASSERT_TRUE(WaitUntil([this] { return TrayTip() == u"LS3578 ready"; }));
    // ("#" ends the line; this table gives it no key.)
    ASSERT_TRUE(sim::FeedSerial(1, "A#"));
    ASSERT_TRUE(WaitUntil([] { return TypedKeys() == "Z"; }));
}

TEST_F(KeyboardComboTest, AStoredNameThatOnlyBeginsAListedOneSelectsAndStoresThatOne) {
    Put(GeneralWith("KEYTABLE", "KEYTABLE = US", "[US English]\r\n65 = 41\r\n"));
    Launch();
    EXPECT_EQ(sim::ComboSelectedText(IDC_KEYBOARD), u"US English");
    AutoStartAndWaitReady();
    EXPECT_EQ(std::u16string(SerialSettings.keyTableName), u"US English");
    EXPECT_NE(Contents().find("KEYTABLE = US English"), std::string::npos);
}

TEST_F(KeyboardComboTest, OnlyTheFullNameChoosesTheActiveKeyboardLayout) {
    // "A" begins "Active keyboard layout", which sorts first: the search goes
    // on to a table it begins, else nothing is chosen and "A" stays.
    struct Case {
        const char* keytable;
        const char* sections;
        std::u16string selected;  // empty: nothing
    };
    const Case cases[] = {
        {"Active keyboard layout", "", u"Active keyboard layout"},
        {"A", "[Alpha]\r\n65 = 41\r\n", u"Alpha"},
        {"A", "[US]\r\n65 = 41\r\n", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sections);
        Close();
        Put(GeneralWith("KEYTABLE", std::string("KEYTABLE = ") + c.keytable, c.sections));
        Launch();
        if (c.selected.empty()) {
            EXPECT_EQ(sim::ComboSelection(IDC_KEYBOARD), -1);
        } else {
            EXPECT_EQ(sim::ComboSelectedText(IDC_KEYBOARD), c.selected);
        }
    }
    // Start keeps the name as it was.
    AutoStartAndWaitReady();
    EXPECT_EQ(std::u16string(SerialSettings.keyTableName), u"A");
    EXPECT_NE(Contents().find("KEYTABLE = A\r\n"), std::string::npos);
}

TEST_F(KeyboardComboTest, WithNoKeytableKeyNothingIsSelectedAndTheAbsentMarkerStays) {
    Put(GeneralWith("KEYTABLE", "", "[US]\r\n65 = 41\r\n"));
    Launch();
    EXPECT_EQ(sim::ComboSelection(IDC_KEYBOARD), -1);
    AutoStartAndWaitReady();
    EXPECT_EQ(std::u16string(SerialSettings.keyTableName), u"ERROR");
}

using TrayTest = ProgramTest;

TEST_F(TrayTest, LeftClickTogglesTheDialogAndEnterHidesItWhileReceptionGoesOn) {
    Launch();
    AutoStartAndWaitReady();
    ASSERT_FALSE(sim::DialogShown());

    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    EXPECT_TRUE(sim::DialogShown());
    EXPECT_EQ(sim::ForegroundRequests(), 1);
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    EXPECT_FALSE(sim::DialogShown());
    // Other mouse actions do nothing.
    ASSERT_TRUE(TrayClick(0x0200));  // WM_MOUSEMOVE
    EXPECT_FALSE(sim::DialogShown());
    // A tray message with another icon id is not ours.
    ASSERT_TRUE(sim::SendDialogMessage(kTrayNotifyMessage, kTrayIconId + 1, kWmRButtonDown));
    EXPECT_EQ(sim::GetDialogPhase(), sim::DialogPhase::Modal);

    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    ASSERT_TRUE(sim::PressEnter());
    EXPECT_FALSE(sim::DialogShown());
    EXPECT_EQ(sim::GetDialogPhase(), sim::DialogPhase::Modal);
    // Enter hid it, so the next click shows it again.
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    EXPECT_TRUE(sim::DialogShown());
    ASSERT_TRUE(sim::FeedSerial(1, "B\r"));
    EXPECT_TRUE(WaitUntil([] { return TypedKeys() == "B\r"; }));
}

TEST_F(TrayTest, TheTipFollowsTheReceptionThreadWhileTheScannerIsMissing) {
    sim::DetachSerialDevice(1);
    Launch();
    ASSERT_TRUE(sim::FireTimer(kAutoStartTimer));
    EXPECT_EQ(sim::Caption(), u"QuorvelCE - Started");
    // The thread keeps trying; the dialog's tip stands meanwhile.
    ASSERT_TRUE(WaitUntil([] { return sim::SerialDevice(1).openAttempts >= 3; }));
    EXPECT_EQ(TrayTip(), u"LS3578 Not Ready");
    EXPECT_EQ(TrayIcon(), sim::FakeIcon(130));
    EXPECT_TRUE(sim::MessageBoxes().empty());

    sim::AttachSerialDevice(1);
    ASSERT_TRUE(WaitUntil([this] { return TrayTip() == u"LS3578 ready"; }));
    EXPECT_EQ(TrayIcon(), sim::FakeIcon(128));
    // Pulling the cable: the thread says so, and comes back when it is back.
    sim::DetachSerialDevice(1);
    ASSERT_TRUE(WaitUntil([this] { return TrayTip() == u"LS3578 not ready"; }));
    EXPECT_EQ(TrayIcon(), sim::FakeIcon(130));
    sim::AttachSerialDevice(1);
    ASSERT_TRUE(WaitUntil([this] { return TrayTip() == u"LS3578 ready"; }));
    EXPECT_EQ(sim::ThreadsCreated(), 1u);
}

TEST_F(TrayTest, RightClickQuitsAtOnceAndLeavesNothingBehind) {
    Launch();
    AutoStartAndWaitReady();
    // A modifier is held mid-line when the quit comes.
    ASSERT_TRUE(sim::FeedSerial(1, "A"));
    ASSERT_TRUE(TrayClick(kWmRButtonDown));
    ASSERT_TRUE(WaitForExit());
    EXPECT_EQ(exitCode_, 0);
    EXPECT_EQ(sim::DialogResult(), 0);
    EXPECT_FALSE(TrayIconShown());
    EXPECT_EQ(sim::AliveThreadCount(), 0u);
    EXPECT_FALSE(sim::SerialDevice(1).open);
    EXPECT_EQ(RunningFlag.load(), 0);
    EXPECT_EQ(ReceptionThreadHandle.load(), kNoThread);
    EXPECT_TRUE(sim::MessageBoxes().empty());
    // Nothing pressed stays pressed.
    bool down[256] = {};
    for (const auto& e : sim::KeyEvents()) down[e.virtualKey] = (e.flags & kKeyEventFKeyUp) == 0;
    for (int k = 0; k < 256; ++k) EXPECT_FALSE(down[k]) << k;
}

TEST_F(TrayTest, RightClickBeforeTheFirstTickEndsWithoutEverStartingReception) {
    Launch();
    ASSERT_TRUE(TrayClick(kWmRButtonDown));
    ASSERT_TRUE(WaitForExit());
    EXPECT_EQ(exitCode_, 0);
    EXPECT_EQ(sim::ThreadsCreated(), 0u);
    EXPECT_EQ(sim::SerialDevice(1).openAttempts, 0u);
    EXPECT_FALSE(TrayIconShown());
    EXPECT_EQ(TrayTip(), u"LS3578 Not Ready");
    EXPECT_EQ(RunningFlag.load(), 0);
    EXPECT_EQ(sim::FileCalls().replaces, 0u);  // nothing saved
}

using StartStopTest = ProgramTest;

TEST_F(StartStopTest, StopSavesNothingAndANewBaudRateIsSavedAndUsedAtTheNextStart) {
    Launch();
    AutoStartAndWaitReady();
    ASSERT_TRUE(TrayClick(kWmLButtonDown));

    const std::string saved = Contents();
    const auto replaces = sim::FileCalls().replaces;
    const auto handles = sim::OpenObjectHandleCount();
    ASSERT_TRUE(sim::ClickButton(IDC_START_STOP));
    EXPECT_EQ(sim::Caption(), u"QuorvelCE - Stopped");
    EXPECT_EQ(SettingsShown(), 13);
    EXPECT_FALSE(sim::ControlVisible(IDC_LOGO));
    EXPECT_EQ(sim::ControlText(IDC_START_STOP), u"Start");
    EXPECT_TRUE(sim::DialogShown());
    EXPECT_FALSE(sim::TimerArmed(kLineWatchTimer));
    EXPECT_EQ(RunningFlag.load(), 0);
    // The woken thread may write its own not-ready tip after ours; either way
    // the icon is the not-ready one.
    ASSERT_TRUE(WaitUntil([] { return sim::AliveThreadCount() == 0; }));
    EXPECT_TRUE(TrayTip() == u"LS3578 Not Ready" || TrayTip() == u"LS3578 not ready");
    EXPECT_EQ(TrayIcon(), sim::FakeIcon(130));
    EXPECT_FALSE(sim::SerialDevice(1).open);
    EXPECT_EQ(Contents(), saved);
    EXPECT_EQ(sim::FileCalls().replaces, replaces);

    ASSERT_TRUE(sim::PickComboItem(IDC_BAUDRATE, 2));  // 115200
    ClickStartAfterStop();
    EXPECT_FALSE(sim::DialogShown());
    EXPECT_EQ(SerialSettings.baudRate, 115200u);
    EXPECT_NE(Contents().find("BAUDRATE = 115200"), std::string::npos);
    EXPECT_EQ(Contents().find("BAUDRATE = 9600"), std::string::npos);
    ASSERT_TRUE(WaitUntil([this] { return TrayTip() == u"LS3578 ready"; }));
    EXPECT_EQ(sim::SerialDevice(1).dcb.BaudRate, 115200u);
    EXPECT_EQ(sim::ThreadsCreated(), 2u);
    EXPECT_EQ(sim::MaxConcurrentThreads(), 1u);
    EXPECT_TRUE(sim::TimerArmed(kLineWatchTimer));
    // The ended thread's handle was released for the new one.
    EXPECT_EQ(sim::OpenObjectHandleCount(), handles);
}

TEST_F(StartStopTest, ASettingsFileThatCouldNotBeReadAtOpeningIsNotOverwrittenByStart) {
    // Another program holds the file while the dialog loads it: every value
    // falls back to its default, and Start must not save those over the
    // user's own.
    const std::string original = Contents();
    sim::FailOpens(32);
    Launch();
    sim::FailOpens(0);
    EXPECT_EQ(std::u16string(SerialSettings.keyTableName), u"ERROR");
    AutoStartAndWaitReady();
    EXPECT_EQ(Contents(), original);
    EXPECT_EQ(sim::FileCalls().creates, 0u);
    EXPECT_EQ(sim::FileCalls().replaces, 0u);
    // Reception runs all the same, with the values in use.
    EXPECT_EQ(sim::SerialDevice(1).dcb.BaudRate, 9600u);
}

TEST_F(StartStopTest, AFailedSaveShowsOneBoxPerRunAndReceptionDoesNotWaitForIt) {
    // A kiosk on a read-only share: nobody answers the box, and the scans
    // must be typed all the same.
    const std::string original = Contents();
    sim::SetMessageBoxAutoDismiss(false);
    Launch();
    // The folder cannot be written (a program folder): every copy fails.
    sim::FailNextCreates(1000, kErrorAccessDenied);
    ASSERT_TRUE(sim::PostDialogMessage(kWmTimer, kAutoStartTimer, 0));
    ASSERT_TRUE(sim::WaitForMessageBoxes(1, 20000));
    ASSERT_TRUE(WaitUntil([this] { return TrayTip() == u"LS3578 ready"; }));
    ASSERT_TRUE(sim::FeedSerial(1, "AB\r"));
    ASSERT_TRUE(WaitUntil([] { return TypedKeys() == "AB\r"; }));
    EXPECT_EQ(sim::OpenMessageBoxCount(), 1u);
    auto boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"5");
    EXPECT_FALSE(boxes[0].hasCaption);
    ASSERT_TRUE(sim::DismissMessageBox());
    // The Start ends by hiding the dialog and arming the line watch.
    ASSERT_TRUE(WaitUntil([] { return sim::TimerArmed(kLineWatchTimer); }));
    EXPECT_EQ(Contents(), original);
    EXPECT_EQ(sim::ControlText(IDC_START_STOP), u"Stop");

    // Once per run: Stop, a new rate, Start again shows no second box, and
    // the new rate is used though it could not be saved.
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    ASSERT_TRUE(sim::ClickButton(IDC_START_STOP));
    ASSERT_TRUE(sim::PickComboItem(IDC_BAUDRATE, 2));  // 115200
    ClickStartAfterStop();
    ASSERT_TRUE(WaitUntil([this] { return TrayTip() == u"LS3578 ready"; }));
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(sim::SerialDevice(1).dcb.BaudRate, 115200u);
    EXPECT_EQ(Contents(), original);
}

TEST_F(StartStopTest, RunElevatedOverASettingsFileOthersCanWriteItSaysSoOnceAndStillUsesIt) {
    // The file's keys are as strong as a keyboard: run as administrator, the
    // program would type what an unelevated program wrote there.
    sim::SetFileWritableBelowUs(true);
    Launch();
    AutoStartAndWaitReady();
    ASSERT_TRUE(sim::FeedSerial(1, "AB\r"));
    ASSERT_TRUE(WaitUntil([] { return TypedKeys() == "AB\r"; }));
    auto boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              u"Fichier de paramètres modifiable sans droits d'administrateur : " +
                  (directory_ / "QuorvelCE.INI").u16string() +
                  u"\nQuorvelCE est lancé en administrateur et tape les touches que ce fichier "
                  u"décrit : un programme sans ces droits peut lui faire taper ce qu'il veut. "
                  u"Réservez l'écriture du fichier et de son dossier aux administrateurs. Le "
                  u"fichier est utilisé.");
    EXPECT_EQ(boxes[0].caption, u"Erreur");

    // Once per run: the next Start says nothing more.
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    ASSERT_TRUE(sim::ClickButton(IDC_START_STOP));
    ClickStartAfterStop();
    ASSERT_TRUE(WaitUntil([this] { return TrayTip() == u"LS3578 ready"; }));
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);
}

TEST_F(StartStopTest, ASettingsFileThatCannotBeUsedIsNamedOnceAndNeverWritten) {
    // Each is there but unusable: the load falls back to defaults, as for a
    // missing file, but says so once, at Start, without holding reception.
    struct Case {
        const char* name;
        std::string contents;  // empty: a folder in the file's place
        std::uint32_t openFailure;
        std::u16string reason;
    };
    const std::string utf16("\xFF\xFE[\0G\0E\0N\0E\0R\0A\0L\0]\0\r\0\n\0", 24);
    const Case cases[] = {
        {"no read permission", DefaultSettings(), kErrorAccessDenied, u"Lecture impossible (5)"},
        {"UTF-16", utf16, 0, u"Texte UTF-16"},
        {"garbage",
         std::string("\x7F"
                     "ELF\x02\x01\x01\0\0[\xC3",
                     12),
         0, u"Aucune ligne ne contient [GENERAL]"},
        {"folder", "", 0, u"C'est un dossier"},
    };
    const std::filesystem::path file = directory_ / "QuorvelCE.INI";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(file);
        if (c.contents.empty()) {
            std::filesystem::create_directory(file);
        } else {
            Put(c.contents);
        }
        const std::string original = c.contents.empty() ? "" : Contents();
        sim::ResetFiles();
        sim::ResetShell();
        sim::SetModuleFileName((directory_ / "QuorvelCE.exe").u16string().c_str());
        sim::SetMessageBoxAutoDismiss(false);
        sim::FailOpens(c.openFailure);
        Launch();
        sim::FailOpens(0);
        EXPECT_TRUE(sim::MessageBoxes().empty());
        ASSERT_TRUE(sim::PostDialogMessage(kWmTimer, kAutoStartTimer, 0));
        ASSERT_TRUE(sim::WaitForMessageBoxes(1, 20000));
        ASSERT_TRUE(WaitUntil([this] { return TrayTip() == u"LS3578 ready"; }));
        const auto boxes = sim::MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, u"Erreur");
        EXPECT_NE(boxes[0].text.find(file.u16string()), std::u16string::npos);
        EXPECT_NE(boxes[0].text.find(c.reason), std::u16string::npos);
        ASSERT_TRUE(sim::DismissMessageBox());
        ASSERT_TRUE(WaitUntil([] { return sim::TimerArmed(kLineWatchTimer); }));
        EXPECT_EQ(sim::SerialDevice(1).dcb.BaudRate, 9600u);

        // A second Start names it no more, and nothing ever writes over it.
        ASSERT_TRUE(TrayClick(kWmLButtonDown));
        ASSERT_TRUE(sim::ClickButton(IDC_START_STOP));
        ClickStartAfterStop();
        EXPECT_EQ(sim::MessageBoxes().size(), 1u);
        EXPECT_EQ(sim::FileCalls().creates, 0u);
        if (!c.contents.empty()) {
            EXPECT_EQ(Contents(), original);
        }
        Close();
    }
    std::filesystem::remove_all(file);

    // A missing file stays silent: defaults, nothing typed, no box.
    sim::ResetShell();
    Launch();
    AutoStartAndWaitReady();
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(StartStopTest, ASettingsPathTooLongToFormIsReadAsMissingAndItsSaveFailureIsShown) {
    const std::u16string longName = (directory_ / std::string(270, 'q')).u16string() + u".exe";
    sim::SetModuleFileName(longName.c_str());
    Launch();
    EXPECT_TRUE(sim::MessageBoxes().empty());
    AutoStartAndWaitReady();
    const auto boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"206");
    EXPECT_EQ(SerialSettings.baudRate, 9600u);
}

TEST_F(StartStopTest, StartAndStopNeverRunInsideEachOtherWhileABoxIsUp) {
    // A box on the dialog thread runs the dialog's messages while it is up.
    // Every save fails here; the first Start shows it.
    sim::SetMessageBoxAutoDismiss(false);
    sim::FailNextCreates(1000, kErrorAccessDenied);
    const auto agree = [](bool started) {
        EXPECT_EQ(sim::Caption(), started ? u"QuorvelCE - Started" : u"QuorvelCE - Stopped");
        EXPECT_EQ(sim::ControlText(IDC_START_STOP), started ? u"Stop" : u"Start");
        EXPECT_EQ(RunningFlag.load(), started ? 1 : 0);
        EXPECT_TRUE(WaitUntil([&] { return sim::AliveThreadCount() == (started ? 1u : 0u); }));
    };
    // Answers every box, then waits for the Start they held up to finish.
    const auto answerBoxes = [] {
        ASSERT_TRUE(WaitUntil([] {
            sim::DismissMessageBox();
            const std::u16string caption = sim::Caption();
            // A Start ends by arming the line watch, after its box.
            return sim::OpenMessageBoxCount() == 0 && caption == u"QuorvelCE - Started" &&
                   sim::TimerArmed(kLineWatchTimer);
        }));
    };
    const WParam click =
        static_cast<WParam>(IDC_START_STOP) | (static_cast<WParam>(kBnClicked) << 16);

    Launch();
    ASSERT_TRUE(sim::PostDialogMessage(kWmTimer, kAutoStartTimer, 0));
    ASSERT_TRUE(sim::WaitForMessageBoxes(1, 20000));
    // The auto-start timer is gone before its Start runs: no second tick.
    EXPECT_FALSE(sim::TimerArmed(kAutoStartTimer));
    ASSERT_TRUE(sim::SendDialogMessage(kWmTimer, kAutoStartTimer, 0));
    ASSERT_TRUE(TrayClick(kWmLButtonDown));  // the dialog still answers the tray
    for (int i = 0; i < 3; ++i) {
        // Each is handled under the box (the send returns once it has been);
        // the button is not shown before the first Start has returned.
        ASSERT_TRUE(sim::SendDialogMessage(kWmCommand, click, 0));
        ASSERT_TRUE(sim::SendDialogMessage(kWmTimer, kStartRetryTimer, 0));
        ASSERT_TRUE(sim::SendDialogMessage(kWmTimer, kLineWatchTimer, 0));
    }
    EXPECT_EQ(sim::OpenMessageBoxCount(), 1u);
    answerBoxes();
    agree(true);
    EXPECT_EQ(sim::ThreadsCreated(), 1u);

    // Stop, then a Start clicked in as a posted message: the save fails again
    // but says so no more, and the Start runs once.
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    ASSERT_TRUE(sim::ClickButton(IDC_START_STOP));
    agree(false);
    ASSERT_TRUE(sim::PostDialogMessage(kWmCommand, click, 0));
    ASSERT_TRUE(WaitUntil([] { return sim::Caption() == u"QuorvelCE - Started"; }));
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);
    agree(true);
    EXPECT_EQ(sim::ThreadsCreated(), 2u);
    EXPECT_EQ(sim::MaxConcurrentThreads(), 1u);

    // And the next click is a plain Stop.
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    ASSERT_TRUE(sim::ClickButton(IDC_START_STOP));
    agree(false);
}

TEST_F(StartStopTest, StartWaitsForAThreadStillShowingItsBoxAndTheDialogKeepsAnswering) {
    sim::SetMessageBoxAutoDismiss(false);
    // The open fails for good: the thread shows its box and gives up after it.
    sim::FailNextOpen(1, kErrorAccessDenied);
    Launch();
    ASSERT_TRUE(sim::FireTimer(kAutoStartTimer));
    ASSERT_TRUE(sim::WaitForMessageBoxes(1, 20000));
    EXPECT_EQ(sim::Caption(), u"QuorvelCE - Started");

    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    ASSERT_TRUE(sim::ClickButton(IDC_START_STOP));  // Stop
    ASSERT_TRUE(sim::ClickButton(IDC_START_STOP));  // Start: the old thread still runs
    EXPECT_TRUE(sim::TimerArmed(kStartRetryTimer));
    EXPECT_TRUE(sim::FireTimer(kStartRetryTimer));
    EXPECT_EQ(sim::ThreadsCreated(), 1u);
    EXPECT_EQ(sim::Caption(), u"QuorvelCE - Stopped");
    // Still answering meanwhile.
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    EXPECT_FALSE(sim::DialogShown());
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    EXPECT_TRUE(sim::DialogShown());

    // The user answers the box; the thread ends and Start goes on.
    ASSERT_TRUE(sim::DismissMessageBox());
    ASSERT_TRUE(WaitUntil([] {
        if (sim::TimerArmed(kStartRetryTimer)) sim::FireTimer(kStartRetryTimer);
        return sim::Caption() == u"QuorvelCE - Started";
    }));
    EXPECT_EQ(sim::ThreadsCreated(), 2u);
    EXPECT_EQ(sim::MaxConcurrentThreads(), 1u);
    EXPECT_FALSE(sim::TimerArmed(kStartRetryTimer));
    ASSERT_TRUE(WaitUntil([this] { return TrayTip() == u"LS3578 ready"; }));
}

TEST_F(StartStopTest, AFailedThreadCreationIsReportedAndEndsTheProgram) {
    Launch();
    sim::FailNextCreateThread(8);
    ASSERT_TRUE(sim::FireTimer(kAutoStartTimer));
    ASSERT_TRUE(WaitForExit());
    EXPECT_EQ(exitCode_, 0);
    EXPECT_EQ(sim::DialogResult(), 0);
    const auto boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"Démarrage du thread impossible  8");
    EXPECT_EQ(boxes[0].caption, u"Erreur");
    EXPECT_NE(boxes[0].owner, kNoWindow);
    EXPECT_EQ(sim::Caption(), u"QuorvelCE - Starting...");
    EXPECT_FALSE(TrayIconShown());
    EXPECT_EQ(RunningFlag.load(), 0);
    EXPECT_EQ(sim::ThreadsCreated(), 0u);
}

// Escape and the caption's close button (both the kIdCancel command) hide the
// dialog as OK does; the program ends only from the tray.
TEST_F(StartStopTest, EscapeHidesTheDialogIntoTheTrayAndScansGoOnBeingTyped) {
    Launch();
    AutoStartAndWaitReady();
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    ASSERT_TRUE(sim::DialogShown());
    ASSERT_TRUE(sim::PressEscape());
    ASSERT_TRUE(sim::WaitForIdle());
    EXPECT_TRUE(sim::DialogExists());
    EXPECT_FALSE(sim::DialogShown());
    EXPECT_TRUE(TrayIconShown());
    ASSERT_TRUE(sim::FeedSerial(1, "AB\r"));
    ASSERT_TRUE(WaitUntil([] { return TypedKeys() == "AB\r"; }));
    // Hidden the way OK hides it: the next left click shows it again.
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    EXPECT_TRUE(sim::DialogShown());
    ASSERT_TRUE(TrayClick(kWmRButtonDown));
    ASSERT_TRUE(WaitForExit());
    EXPECT_EQ(sim::DialogResult(), 0);
    EXPECT_TRUE(WaitUntil([] { return sim::AliveThreadCount() == 0; }));
    EXPECT_FALSE(sim::SerialDevice(1).open);
}

TEST_F(StartStopTest, EscapeWhileALineIsTypedLetsItBeTypedToTheEnd) {
    Launch();
    AutoStartAndWaitReady();
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    // Caught between the Shift press and the key of the first keystroke.
    sim::HoldClock(true);
    ASSERT_TRUE(sim::FeedSerial(1, "ABAB\r"));
    for (std::size_t sent = 1;; ++sent) {
        ASSERT_TRUE(WaitUntil(
            [&] { return sim::KeyEventCount() == sent && sim::BlockedThreadCount(false) >= 1; }));
        if (sent == 3) break;
        sim::AdvanceClock(1'000);
    }
    ASSERT_TRUE(sim::PressEscape());
    sim::HoldClock(false);
    ASSERT_TRUE(WaitUntil([] { return TypedKeys() == "ABAB\r"; }));
    EXPECT_TRUE(sim::DialogExists());
    bool down[256] = {};
    for (const auto& e : sim::KeyEvents()) down[e.virtualKey] = (e.flags & kKeyEventFKeyUp) == 0;
    for (int k = 0; k < 256; ++k) EXPECT_FALSE(down[k]) << k;
}

TEST_F(StartStopTest, ARunKilledInALineHasItsKeysReleasedAndCapsLockGivenBackByTheNextStart) {
    // "@" is AltGr+2, "A" Shift+A. Caps Lock is on, so a line begins by
    // switching it off.
    Put(GeneralWith("KEYTABLE", "KEYTABLE = DE",
                    "[DE]\r\n13 = 0D\r\n64 = 32,AltGr\r\n65 = 41,Shift\r\n"));
    sim::SetCapsLock(true);
    const auto keysDown = [] {
        bool down[256] = {};
        for (const auto& e : sim::KeyEvents())
            down[e.virtualKey] = (e.flags & kKeyEventFKeyUp) == 0;
        std::string keys;
        for (int k = 0; k < 256; ++k)
            if (down[k]) keys += std::to_string(k) + " ";
        return keys;
    };
    const auto strokesFrom = [](std::size_t first) {
        std::string strokes;
        const auto events = sim::KeyEvents();
        for (std::size_t i = first; i < events.size(); ++i)
            strokes += ((events[i].flags & kKeyEventFKeyUp) != 0 ? "-" : "+") +
                       std::to_string(events[i].virtualKey) + " ";
        return strokes;
    };
    // Killed just after the AltGr key's press (Control, 2 and left Alt down),
    // then after a shifted letter's (Shift and A); each next start releases
    // exactly those and switches Caps Lock back on.
    struct Kill {
        const char* line;
        std::size_t events;
        std::string held;
        std::string givenBack;
    };
    const Kill kills[] = {
        {"A@A\r", 11, "17 50 164 ", "-17 -50 -164 +20 -20 "},
        {"A@\r", 6, "16 65 ", "-16 -65 +20 -20 "},
    };
    std::size_t killedAt = 0;
    std::string givenBack;
    for (const Kill& kill : kills) {
        Launch();
        EXPECT_EQ(strokesFrom(killedAt), givenBack);
        EXPECT_EQ(keysDown(), "");
        EXPECT_TRUE(sim::CapsLockOn());

        AutoStartAndWaitReady();
        killedAt = sim::KeyEventCount() + kill.events;
        sim::KillRunAfterEvents(killedAt);
        ASSERT_TRUE(sim::FeedSerial(1, kill.line));
        ASSERT_TRUE(WaitUntil([&] { return sim::KeyEventCount() == killedAt; }));
        Close();
        EXPECT_EQ(keysDown(), kill.held);
        EXPECT_FALSE(sim::CapsLockOn());
        givenBack = kill.givenBack;
        // What a new process starts with.
        RunningFlag = 1;
        ReceptionThreadHandle = kNoThread;
    }
    Launch();
    EXPECT_EQ(strokesFrom(killedAt), givenBack);
    EXPECT_EQ(keysDown(), "");
    EXPECT_TRUE(sim::CapsLockOn());
}

TEST_F(StartStopTest, StopEndsTypingAtTheNextKeyEventAndNothingIsPressedAfterIt) {
    Launch();
    AutoStartAndWaitReady();
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    // Caught in the pause after the third event of the first keystroke.
    sim::HoldClock(true);
    ASSERT_TRUE(sim::FeedSerial(1, "ABAB\r"));
    for (std::size_t sent = 1;; ++sent) {
        ASSERT_TRUE(WaitUntil(
            [&] { return sim::KeyEventCount() == sent && sim::BlockedThreadCount(false) >= 1; }));
        if (sent == 3) break;
        sim::AdvanceClock(1'000);
    }
    // The dialog now has the focus: the rest of the line (its Enter above
    // all, which would click Start) must not reach it.
    ASSERT_TRUE(sim::ClickButton(IDC_START_STOP));
    const std::size_t atStop = sim::KeyEventCount();
    sim::HoldClock(false);
    ASSERT_TRUE(WaitUntil([] { return sim::AliveThreadCount() == 0; }));
    const auto events = sim::KeyEvents();
    for (std::size_t i = atStop; i < events.size(); ++i)
        EXPECT_NE(events[i].flags & kKeyEventFKeyUp, 0u) << "a press after Stop, event " << i;
    bool down[256] = {};
    for (const auto& e : events) down[e.virtualKey] = (e.flags & kKeyEventFKeyUp) == 0;
    for (int k = 0; k < 256; ++k) EXPECT_FALSE(down[k]) << k;
    EXPECT_EQ(TypedKeys(), "");
}

// Every byte fed to port 1 read, and reception waiting for more.
bool AllBytesHandled() {
    return WaitUntil([] {
        return sim::SerialDevice(1).pendingBytes == 0 &&
               sim::BlockedThreadCount(true) == sim::AliveThreadCount();
    });
}

TEST_F(StartStopTest, ALineForAWindowAboveUsIsNotSentAndSaidOncePerRunWithoutHoldingReception) {
    // A program run as administrator has the focus: Windows would drop our
    // keys without a word, so the line is not sent and the user is told.
    Launch();
    AutoStartAndWaitReady();
    sim::SetForegroundWindowAbove(u"regedit.exe");
    ASSERT_TRUE(sim::FeedSerial(1, "AB\r"));
    ASSERT_TRUE(AllBytesHandled());
    ASSERT_TRUE(sim::FeedSerial(1, "A\r"));
    ASSERT_TRUE(AllBytesHandled());
    EXPECT_EQ(sim::KeyEventCount(), 0u);
    // Said by the dialog thread at the line watch's tick, never by the
    // reception thread, which must go on reading.
    EXPECT_TRUE(sim::MessageBoxes().empty());
    ASSERT_TRUE(sim::FireTimer(kLineWatchTimer));
    ASSERT_TRUE(sim::FireTimer(kLineWatchTimer));
    auto boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              u"Saisie impossible dans la fenêtre de regedit.exe : ce programme a plus de droits "
              u"que QuorvelCE (lancé en administrateur) et Windows ne lui transmet pas nos "
              u"touches.\nLancez QuorvelCE avec les mêmes droits, ou ce programme sans eux. Les "
              u"lectures faites pendant que cette fenêtre est au premier plan ne sont pas "
              u"tapées.");
    EXPECT_EQ(boxes[0].caption, u"Erreur");

    // The focus moves on: the next line is typed.
    sim::SetForegroundWindowAbove(nullptr);
    ASSERT_TRUE(sim::FeedSerial(1, "B\r"));
    ASSERT_TRUE(WaitUntil([] { return TypedKeys() == "B\r"; }));

    // Once per run: after Stop and Start, another such window is not said again.
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    ASSERT_TRUE(sim::ClickButton(IDC_START_STOP));
    ClickStartAfterStop();
    ASSERT_TRUE(WaitUntil([this] { return TrayTip() == u"LS3578 ready"; }));
    sim::SetForegroundWindowAbove(u"Taskmgr.exe");
    ASSERT_TRUE(sim::FeedSerial(1, "A\r"));
    ASSERT_TRUE(AllBytesHandled());
    ASSERT_TRUE(WaitUntil([] { return sim::TimerArmed(kLineWatchTimer); }));
    ASSERT_TRUE(sim::FireTimer(kLineWatchTimer));
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(TypedKeys(), "B\r");
}

TEST_F(StartStopTest, ALineWhileNoWindowHasTheFocusIsNotSentAndSaidOnceApartFromAWindowAbove) {
    // The lock screen or an elevation prompt's secure desktop: Windows would
    // drop the keys, so the line waits for nothing and is not sent.
    Launch();
    AutoStartAndWaitReady();
    sim::SetNoForegroundWindow(true);
    ASSERT_TRUE(sim::FeedSerial(1, "AB\r"));
    ASSERT_TRUE(AllBytesHandled());
    ASSERT_TRUE(sim::FeedSerial(1, "A\r"));
    ASSERT_TRUE(AllBytesHandled());
    EXPECT_EQ(sim::KeyEventCount(), 0u);
    ASSERT_TRUE(sim::FireTimer(kLineWatchTimer));
    ASSERT_TRUE(sim::FireTimer(kLineWatchTimer));
    auto boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              u"Saisie impossible : aucune fenêtre n'a le focus (bureau sécurisé d'une demande "
              u"d'élévation, écran de verrouillage, changement de bureau) et Windows ne transmet "
              u"nos touches à personne.\nLes lectures faites pendant ce temps ne sont pas "
              u"tapées ; la saisie reprend dès qu'une fenêtre a le focus.");
    EXPECT_EQ(boxes[0].caption, u"Erreur");

    // A window has the focus again: typing resumes with the next line.
    sim::SetNoForegroundWindow(false);
    ASSERT_TRUE(sim::FeedSerial(1, "B\r"));
    ASSERT_TRUE(WaitUntil([] { return TypedKeys() == "B\r"; }));

    // A window above us is another cause, said once as well; a second loss
    // of focus in the same run is not said again.
    sim::SetForegroundWindowAbove(u"regedit.exe");
    ASSERT_TRUE(sim::FeedSerial(1, "A\r"));
    ASSERT_TRUE(AllBytesHandled());
    sim::SetForegroundWindowAbove(nullptr);
    sim::SetNoForegroundWindow(true);
    ASSERT_TRUE(sim::FeedSerial(1, "A\r"));
    ASSERT_TRUE(AllBytesHandled());
    ASSERT_TRUE(sim::FireTimer(kLineWatchTimer));
    ASSERT_TRUE(sim::FireTimer(kLineWatchTimer));
    boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text.rfind(u"Saisie impossible dans la fenêtre de regedit.exe", 0), 0u);
    EXPECT_EQ(TypedKeys(), "B\r");
}

TEST_F(StartStopTest, AKeyReadFromAnotherKeysLineIsSaidOnceAndThatLineIsNotSavedOver) {
    // DATA's name inside a SCAN_ value on a line above DATA's own: a read
    // takes that line, and a save of DATA would replace it.
    std::string settings = DefaultSettings();
    settings.insert(settings.find("PARITY"), "SCAN_PREFIX=DATA:\r\n");
    Put(settings);
    sim::SetMessageBoxAutoDismiss(false);
    Launch();
    ASSERT_TRUE(sim::PostDialogMessage(kWmTimer, kAutoStartTimer, 0));
    ASSERT_TRUE(sim::WaitForMessageBoxes(1, 20000));
    auto boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"Erreur");
    EXPECT_NE(boxes[0].text.find(u"DATA est lu à la ligne 5, qui n'est pas la sienne : il n'y "
                                 u"est pas enregistré."),
              std::u16string::npos);
    EXPECT_EQ(boxes[0].text.find(u"PARITY"), std::u16string::npos);
    // The box waits for someone; scans are typed meanwhile.
    ASSERT_TRUE(WaitUntil([this] { return TrayTip() == u"LS3578 ready"; }));
    ASSERT_TRUE(sim::FeedSerial(1, "AB\r"));
    // (after the prefix the SCAN_ line adds)
    ASSERT_TRUE(WaitUntil([] { return TypedKeys().ends_with("AB\r"); }));
    ASSERT_TRUE(sim::DismissMessageBox());
    ASSERT_TRUE(WaitUntil([] { return sim::TimerArmed(kLineWatchTimer); }));
    EXPECT_NE(Contents().find("SCAN_PREFIX=DATA:\r\n"), std::string::npos);
    EXPECT_EQ(Contents().find("DATA = 8\r\nPARITY"), std::string::npos);

    // The other keys are still saved; the next Start says nothing again.
    ASSERT_TRUE(TrayClick(kWmLButtonDown));
    ASSERT_TRUE(sim::ClickButton(IDC_START_STOP));
    ASSERT_TRUE(sim::PickComboItem(IDC_BAUDRATE, 2));  // 115200
    ClickStartAfterStop();
    ASSERT_TRUE(WaitUntil([this] { return TrayTip() == u"LS3578 ready"; }));
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_NE(Contents().find("BAUDRATE = 115200\r\nSCAN_PREFIX=DATA:\r\n"), std::string::npos);
}

TEST_F(StartStopTest, AProblemMetWhileTypingIsShownOncePerRunByTheDialogWhileTypingGoesOn) {
    // What a backend meets in the middle of a line (a character left out,
    // the keyboard output failing) is posted, never shown on that thread.
    sim::SetMessageBoxAutoDismiss(false);
    Launch();
    AutoStartAndWaitReady();
    std::thread typing([] {
        PostReport(ReportKind::kCharacterLeftOut, u"omis");
        PostReport(ReportKind::kCharacterLeftOut, u"omis encore");
    });
    typing.join();
    char16_t last[64];
    ASSERT_TRUE(LastReport(last, 64));
    EXPECT_EQ(std::u16string(last), u"omis");
    ASSERT_TRUE(sim::PostDialogMessage(kWmTimer, kLineWatchTimer, 0));
    ASSERT_TRUE(sim::WaitForMessageBoxes(1, 20000));
    ASSERT_TRUE(sim::FeedSerial(1, "AB\r"));
    ASSERT_TRUE(WaitUntil([] { return TypedKeys() == "AB\r"; }));
    ASSERT_TRUE(sim::DismissMessageBox());
    sim::SetMessageBoxAutoDismiss(true);
    ASSERT_TRUE(sim::PostDialogMessage(kWmTimer, kLineWatchTimer, 0));
    Close();  // after the tick: a box it showed is on the list by then
    auto boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"omis");
    EXPECT_EQ(boxes[0].caption, u"Erreur");

    // A new run may say it again.
    sim::ResetShell();
    Launch();
    AutoStartAndWaitReady();
    EXPECT_TRUE(PostReport(ReportKind::kCharacterLeftOut, u"omis"));
}

TEST_F(StartStopTest, TheHiddenRadiosStillSwitchLineWaitMode) {
    Launch();
    const WParam inactive = static_cast<WParam>(IDC_INACTIVE);
    const WParam active = static_cast<WParam>(IDC_ACTIVE);
    ASSERT_TRUE(sim::SendDialogMessage(kWmCommand, inactive, 0));
    EXPECT_EQ(LineWaitFlag.load(), 0);
    EXPECT_EQ(sim::ControlCheck(IDC_INACTIVE), kBstChecked);
    EXPECT_EQ(sim::ControlCheck(IDC_ACTIVE), kBstUnchecked);
    ASSERT_TRUE(sim::SendDialogMessage(kWmCommand, active, 0));
    EXPECT_EQ(LineWaitFlag.load(), 1);
    EXPECT_EQ(sim::ControlCheck(IDC_ACTIVE), kBstChecked);
    EXPECT_EQ(sim::ControlCheck(IDC_INACTIVE), kBstUnchecked);
}

}  // namespace
