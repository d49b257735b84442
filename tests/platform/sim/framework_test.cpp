// The dialog framework as the main dialog relies on it, run on the simulated
// backend: the template's controls and combo lists, the combo boxes' sorted
// insertion and prefix search, the message map, timers, and the modal loop's
// beginning and end.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "app/resources/dialog_template.h"
#include "platform/framework.h"
#include "platform/sim/framework.h"

using namespace platform;
using namespace resources;
namespace sim = platform::sim;

namespace {

// A dialog on template 102 that records what reaches it.
class ProbeDialog : public CDialog {
  public:
    ProbeDialog() : CDialog(kMainDialogTemplate) {}

    std::vector<std::string> events;
    bool endInInit = false;
    CComboBox port;
    CComboBox keyboard;
    CButton startStop;

    void Init(void (*step)(ProbeDialog&)) { m_initStep = step; }

  protected:
    void DoDataExchange(CDataExchange* pDX) override {
        events.push_back("ddx");
        DDX_Control(pDX, IDC_PORT, port);
        DDX_Control(pDX, IDC_KEYBOARD, keyboard);
        DDX_Control(pDX, IDC_START_STOP, startStop);
    }
    bool OnInitDialog() override {
        CDialog::OnInitDialog();
        events.push_back("init");
        if (m_initStep != nullptr) m_initStep(*this);
        if (endInInit) EndDialog(7);
        SetTimer(104, 1000);
        return true;
    }
    LResult WindowProc(std::uint32_t message, WParam wParam, LParam lParam) override {
        if (message == kWmUser + 1) {
            events.push_back("user");
            return 42;
        }
        return CDialog::WindowProc(message, wParam, lParam);
    }
    const MessageMap* GetMessageMap() const override {
        static const MessageMapEntry entries[] = {
            OnBnClicked(IDC_START_STOP, &ProbeDialog::OnStartStop),
            OnWmTimer(&ProbeDialog::OnTimer),
            OnWmDestroy(&ProbeDialog::OnDestroy),
            {},
        };
        static const MessageMap map = {CDialog::GetMessageMap(), entries};
        return &map;
    }
    void OnStartStop() {
        events.push_back("click");
        KillTimer(104);
    }
    void OnTimer(std::uintptr_t id) {
        events.push_back("timer " + std::to_string(id));
        CDialog::OnTimer(id);
    }
    void OnDestroy() {
        events.push_back("destroy");
        CDialog::OnDestroy();
    }

  private:
    void (*m_initStep)(ProbeDialog&) = nullptr;
};

// Runs the dialog's modal loop on a thread of its own, as the program's main
// thread would, and joins it at the end.
class ModalRun {
  public:
    explicit ModalRun(ProbeDialog& dialog) : m_thread([&] { m_result = dialog.DoModal(); }) {}
    ~ModalRun() {
        if (m_thread.joinable()) {
            // Ends it whatever state the test left it in (hidden windows
            // have no keyboard, so not through PressEscape).
            sim::SendDialogMessage(kWmCommand, static_cast<WParam>(kIdCancel), 0);
            m_thread.join();
        }
    }
    std::intptr_t Join() {
        m_thread.join();
        return m_result;
    }

  private:
    std::intptr_t m_result = -100;
    std::thread m_thread;
};

class FrameworkTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::ResetFramework(); }
    void TearDown() override { sim::ResetFramework(); }
};

std::vector<std::u16string> Items(std::initializer_list<const char16_t*> list) {
    return {list.begin(), list.end()};
}

TEST_F(FrameworkTest, WindowIsBuiltFromTheTemplateWithItsComboLists) {
    ProbeDialog dialog;
    ModalRun run(dialog);
    ASSERT_TRUE(sim::WaitForModalLoop());

    EXPECT_EQ(sim::Caption(), u"QuorvelCE");
    EXPECT_TRUE(sim::DialogShown());
    for (int i = 0; i < kMainDialogTemplate.controlCount; ++i)
        EXPECT_TRUE(sim::ControlExists(kMainDialogTemplate.controls[i].id));
    // Shown by the template or not: the radios, their group and both
    // "Button1" buttons start hidden.
    EXPECT_TRUE(sim::ControlVisible(IDC_PORT));
    EXPECT_TRUE(sim::ControlVisible(IDC_LOGO));
    for (int id : {IDC_ACTIVE, IDC_INACTIVE, IDC_LINE_WAIT_GROUP, IDC_OK_BUTTON, IDC_CANCEL_BUTTON})
        EXPECT_FALSE(sim::ControlVisible(id)) << id;
    EXPECT_EQ(sim::ControlText(IDC_START_STOP), u"Start");

    EXPECT_EQ(sim::ComboItems(IDC_DATA), Items({u"8", u"7", u"6", u"5"}));
    EXPECT_EQ(sim::ComboItems(IDC_STOP), Items({u"1", u"1.5", u"2"}));
    EXPECT_EQ(sim::ComboItems(IDC_PARITY), Items({u"NONE", u"ODD", u"EVEN", u"MARK", u"SPACE"}));
    const auto rates = sim::ComboItems(IDC_BAUDRATE);
    ASSERT_EQ(rates.size(), 15u);
    EXPECT_EQ(rates.front(), u"256000");
    EXPECT_EQ(rates.back(), u"110");
    EXPECT_TRUE(sim::ComboItems(IDC_PORT).empty());
    EXPECT_TRUE(sim::ComboItems(IDC_KEYBOARD).empty());

    // The lists are in place before the derived class's own initialisation,
    // and the controls are bound by then.
    ASSERT_GE(dialog.events.size(), 2u);
    EXPECT_EQ(dialog.events[0], "ddx");
    EXPECT_EQ(dialog.events[1], "init");
    EXPECT_NE(dialog.port.GetSafeHwnd(), kNoWindow);
}

TEST_F(FrameworkTest, SortedComboAddsAlphabeticallyInsertKeepsPositionsFindIsPrefixAnyCase) {
    ProbeDialog dialog;
    dialog.Init([](ProbeDialog& d) {
        for (const char16_t* name : {u"US", u"German", u"french", u"UK", u"Azerty"})
            d.keyboard.AddString(name);
        // Insertion at a position ignores the sorting: the port list stays
        // numeric although its combo is sorted.
        for (const char16_t* port : {u"1", u"2", u"3", u"10"})
            d.port.InsertString(d.port.GetCount(), port);
    });
    ModalRun run(dialog);
    ASSERT_TRUE(sim::WaitForModalLoop());

    EXPECT_EQ(sim::ComboItems(IDC_KEYBOARD),
              Items({u"Azerty", u"french", u"German", u"UK", u"US"}));
    EXPECT_EQ(sim::ComboItems(IDC_PORT), Items({u"1", u"2", u"3", u"10"}));

    // These run on the dialog thread in the real program; here the loop is idle.
    EXPECT_EQ(dialog.port.FindString(-1, u"1"), 0);
    EXPECT_EQ(dialog.port.FindString(-1, u"10"), 3);
    EXPECT_EQ(dialog.port.FindString(0, u"1"), 3);  // searches after `start`
    EXPECT_EQ(dialog.port.FindString(3, u"1"), 0);  // and wraps round
    EXPECT_EQ(dialog.port.FindString(-1, u"4"), kCbErr);
    EXPECT_EQ(dialog.keyboard.FindString(-1, u"FRE"), 1);
    EXPECT_EQ(dialog.keyboard.FindString(-1, u"u"), 3);
    EXPECT_EQ(dialog.keyboard.FindString(-1, u"Frenchy"), kCbErr);

    EXPECT_EQ(dialog.keyboard.SetCurSel(2), 2);
    EXPECT_EQ(dialog.keyboard.GetCurSel(), 2);
    char16_t text[33] = {};
    EXPECT_EQ(dialog.keyboard.GetLBTextLen(2), 6);
    EXPECT_EQ(dialog.keyboard.GetLBText(2, text), 6);
    EXPECT_EQ(std::u16string(text), u"German");
    // A failed search's result clears the selection.
    EXPECT_EQ(dialog.keyboard.SetCurSel(kCbErr), kCbErr);
    EXPECT_EQ(dialog.keyboard.GetCurSel(), kCbErr);
    EXPECT_EQ(dialog.keyboard.SetCurSel(2), 2);
    EXPECT_EQ(dialog.keyboard.SetCurSel(5), kCbErr);
    EXPECT_EQ(sim::ComboSelection(IDC_KEYBOARD), -1);
}

TEST_F(FrameworkTest, MessagesReachTheMapTheOverrideAndTheDefaults) {
    ProbeDialog dialog;
    ModalRun run(dialog);
    ASSERT_TRUE(sim::WaitForModalLoop());

    EXPECT_TRUE(sim::FireTimer(104));
    EXPECT_FALSE(sim::FireTimer(103));  // never armed
    EXPECT_TRUE(sim::ClickButton(IDC_START_STOP));
    EXPECT_FALSE(sim::FireTimer(104));           // the click killed it
    EXPECT_FALSE(sim::ClickButton(IDC_ACTIVE));  // hidden controls cannot be clicked
    EXPECT_TRUE(sim::SendDialogMessage(kWmUser + 1, 0, 0));
    // Another tray-like message nobody maps goes to default processing quietly.
    EXPECT_TRUE(sim::SendDialogMessage(kWmUser + 2, 0, 0));

    // Enter is the kIdOk command, whose default ends the dialog with kIdOk.
    EXPECT_TRUE(sim::PressEnter());
    EXPECT_EQ(run.Join(), kIdOk);
    EXPECT_EQ(sim::GetDialogPhase(), sim::DialogPhase::Ended);
    EXPECT_FALSE(sim::DialogExists());
    EXPECT_TRUE(sim::ArmedTimers().empty());

    const std::vector<std::string> expected = {"ddx",   "init", "timer 104",
                                               "click", "user", "destroy"};
    EXPECT_EQ(dialog.events, expected);
}

TEST_F(FrameworkTest, EscapeEndsWithCancel) {
    ProbeDialog dialog;
    ModalRun run(dialog);
    ASSERT_TRUE(sim::WaitForModalLoop());
    EXPECT_TRUE(sim::PressEscape());
    EXPECT_EQ(run.Join(), kIdCancel);
}

TEST_F(FrameworkTest, EndDialogDuringInitSkipsTheLoopButStillDestroysTheWindow) {
    ProbeDialog dialog;
    dialog.endInInit = true;
    ModalRun run(dialog);
    // The initialisation goes on to its end (it arms a timer after EndDialog).
    EXPECT_FALSE(sim::WaitForModalLoop());
    EXPECT_EQ(run.Join(), 7);
    const std::vector<std::string> expected = {"ddx", "init", "destroy"};
    EXPECT_EQ(dialog.events, expected);
    EXPECT_FALSE(sim::PostDialogMessage(kWmUser + 1, 0, 0));
    EXPECT_FALSE(sim::FireTimer(104));
}

TEST_F(FrameworkTest, ATickQueuedBeforeItsTimerIsKilledIsDropped) {
    ProbeDialog dialog;
    ModalRun run(dialog);
    ASSERT_TRUE(sim::WaitForModalLoop());
    // The click is queued ahead of the tick and kills the timer first.
    const WParam click = static_cast<WParam>(IDC_START_STOP) | (WParam{kBnClicked} << 16);
    ASSERT_TRUE(sim::PostDialogMessage(kWmCommand, click, 0));
    ASSERT_TRUE(sim::PostDialogMessage(kWmTimer, 104, 0));
    ASSERT_TRUE(sim::WaitForIdle());
    EXPECT_EQ(std::count(dialog.events.begin(), dialog.events.end(), "timer 104"), 0);
}

TEST_F(FrameworkTest, ShowWindowTracksMinimiseAndHideAndRecordsEveryCall) {
    ProbeDialog dialog;
    dialog.Init([](ProbeDialog& d) {
        d.ShowWindow(kSwMinimize);
        d.startStop.ShowWindow(kSwHide);
        d.SetWindowTextW(u"second");
    });
    ModalRun run(dialog);
    ASSERT_TRUE(sim::WaitForModalLoop());
    EXPECT_TRUE(sim::DialogExists());
    EXPECT_FALSE(sim::DialogShown());  // minimised
    EXPECT_FALSE(sim::ControlVisible(IDC_START_STOP));
    EXPECT_FALSE(sim::PressEnter());  // a dialog not on screen has no keyboard
    const auto calls = sim::ShowWindowCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].controlId, 0);
    EXPECT_EQ(calls[0].command, kSwMinimize);
    EXPECT_EQ(calls[1].controlId, IDC_START_STOP);
    EXPECT_EQ(sim::CaptionHistory(), Items({u"QuorvelCE", u"second"}));
}

class ProbeApp : public CWinApp {
  public:
    int initCalls = 0;
    bool InitInstance() override {
        ++initCalls;
        return false;
    }
};

TEST(FrameworkEntryTest, FalseFromInitInstanceEndsTheProgramWithoutALoop) {
    ProbeApp app;
    EXPECT_EQ(AfxGetApp(), &app);
    EXPECT_EQ(RunApplication(), 0);
    EXPECT_EQ(app.initCalls, 1);
}

}  // namespace
