// The Qt window and shell side of the Linux backend as the main dialog relies
// on it, headless: the window built from template 102, commands and timer
// ticks reaching WindowProc on the GUI thread, message boxes raised by another
// thread, and the tray icon driven from another thread and clicked.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/resources/dialog_template.h"
#include "platform/framework.h"
#include "platform/linux/qt/icons_private.h"
#include "platform/linux/qt/tray.h"
#include "platform/linux/qt/windows_private.h"
#include "platform/services.h"

using namespace platform;
using namespace resources;

namespace {

// Button kinds in the template's style words (Windows values).
constexpr std::uint32_t kBsGroupBox = 0x0007;
constexpr std::uint32_t kBsAutoRadioButton = 0x0009;

// Only keeps a broken backend from hanging the run.
constexpr int kGuardMs = 10000;

bool PumpUntil(const std::function<bool()>& done) {
    QDeadlineTimer deadline(kGuardMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Lets queued work from other threads arrive, without waiting for anything.
void Pump() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

QWidget* Widget(const CWnd& dialog, int id) {
    return qt::WidgetOf(dialog.GetDlgItem(id));
}

QMessageBox* ShownBox() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible())
            return box;
    return nullptr;
}

std::u16string Utf16(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

// A message box raised on a thread of its own. Detached, so that a backend
// that never lets the box return fails the test instead of hanging it.
class BoxThread {
  public:
    explicit BoxThread(const char16_t* text) : m_state(std::make_shared<State>()) {
        std::thread([state = m_state, text] {
            state->result = MessageBoxW(kNoWindow, text, kErrorCaption, kMbOk);
            state->returned = true;
        }).detach();
    }
    bool Returned() const { return m_state->returned; }
    bool WaitReturned() const {
        QDeadlineTimer deadline(kGuardMs);
        while (!m_state->returned && !deadline.hasExpired())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return m_state->returned;
    }
    std::int32_t Result() const { return m_state->result; }

  private:
    struct State {
        std::atomic<bool> returned{false};
        std::atomic<std::int32_t> result{0};
    };
    std::shared_ptr<State> m_state;
};

struct Received {
    std::uint32_t message;
    WParam wParam;
    LParam lParam;
    bool onGuiThread;
};

// A dialog on template 102 that runs `step` on its first timer tick (so from
// inside its modal loop) and records every message its WindowProc sees.
class ProbeDialog : public CDialog {
  public:
    explicit ProbeDialog(std::function<void(ProbeDialog&)> step)
        : CDialog(kMainDialogTemplate), m_step(std::move(step)) {}

    std::vector<Received> received;
    int okCount = 0;

    int Count(std::uint32_t message, WParam wParam) const {
        int n = 0;
        for (const Received& r : received) n += r.message == message && r.wParam == wParam;
        return n;
    }

    LResult WindowProc(std::uint32_t message, WParam wParam, LParam lParam) override {
        received.push_back({message, wParam, lParam, QThread::currentThread() == qApp->thread()});
        if (message == kWmTimer && wParam == kStepTimer) {
            KillTimer(kStepTimer);
            if (m_step) m_step(*this);
            // A step cut short by a failed assertion still ends the dialog.
            EndDialog(kStepCutShort);
            return 0;
        }
        return CDialog::WindowProc(message, wParam, lParam);
    }

  protected:
    bool OnInitDialog() override {
        CDialog::OnInitDialog();
        SetTimer(kStepTimer, 0);
        return true;
    }
    void OnOK() override { ++okCount; }

  private:
    static constexpr std::uintptr_t kStepTimer = 900;
    static constexpr std::intptr_t kStepCutShort = -2;
    std::function<void(ProbeDialog&)> m_step;
};

TEST(QtDialogTest, Template102BuildsEveryControlWithItsTextListAndPlace) {
    ProbeDialog dialog([](ProbeDialog& d) {
        const DialogTemplate& t = kMainDialogTemplate;
        QWidget* window = qt::WidgetOf(d.m_hWnd);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(Utf16(window->windowTitle()), t.caption);
        EXPECT_EQ(window->isVisible(), (t.style & kWsVisible) != 0);

        for (int i = 0; i < t.controlCount; ++i) {
            const DialogControl& c = t.controls[i];
            SCOPED_TRACE(c.id);
            QWidget* w = Widget(d, c.id);
            ASSERT_NE(w, nullptr);
            EXPECT_EQ(w->parentWidget(), window);
            EXPECT_EQ(w->isHidden(), (c.style & kWsVisible) == 0);
            const std::u16string text = c.text != nullptr ? c.text : u"";
            const std::uint32_t kind = c.style & 0x1F;
            switch (c.controlClass) {
                case ControlClass::ComboBox: {
                    auto* combo = qobject_cast<QComboBox*>(w);
                    ASSERT_NE(combo, nullptr);
                    // The template's list in its order, and nothing selected:
                    // the dialog selects what the settings say.
                    CComboBox bound;
                    bound.m_hWnd = d.GetDlgItem(c.id);
                    std::vector<std::u16string> items;
                    for (int k = 0; k < bound.GetCount(); ++k) {
                        char16_t item[64] = {};
                        ASSERT_LT(bound.GetLBTextLen(k), 64);
                        bound.GetLBText(k, item);
                        items.emplace_back(item);
                    }
                    std::vector<std::u16string> expected;
                    if (const ComboList* list = FindComboList(t, c.id))
                        expected.assign(list->items, list->items + list->count);
                    EXPECT_EQ(items, expected);
                    EXPECT_EQ(bound.GetCurSel(), kCbErr);
                    EXPECT_EQ(combo->currentIndex(), -1);
                    break;
                }
                case ControlClass::Static:
                    if (c.imageId != 0) {
                        auto* picture = qobject_cast<QLabel*>(w);
                        ASSERT_NE(picture, nullptr);
                        const QPixmap bitmap(QStringLiteral(":/bitmap/%1.bmp").arg(c.imageId));
                        ASSERT_FALSE(bitmap.isNull());
                        EXPECT_EQ(picture->pixmap().size(), bitmap.size());
                        EXPECT_EQ(picture->size(), bitmap.size());
                    } else {
                        auto* label = qobject_cast<QLabel*>(w);
                        ASSERT_NE(label, nullptr);
                        EXPECT_EQ(Utf16(label->text()), text);
                    }
                    break;
                case ControlClass::Button:
                    if (kind == kBsGroupBox) {
                        auto* group = qobject_cast<QGroupBox*>(w);
                        ASSERT_NE(group, nullptr);
                        EXPECT_EQ(Utf16(group->title()), text);
                    } else if (kind == kBsAutoRadioButton) {
                        auto* radio = qobject_cast<QRadioButton*>(w);
                        ASSERT_NE(radio, nullptr);
                        EXPECT_EQ(Utf16(radio->text()), text);
                    } else {
                        auto* button = qobject_cast<QPushButton*>(w);
                        ASSERT_NE(button, nullptr);
                        EXPECT_EQ(Utf16(button->text()), text);
                    }
                    break;
            }
            // Placed where the template puts it: inside the dialog, and in
            // the same order left to right and top to bottom as the template.
            EXPECT_TRUE(window->rect().contains(w->geometry().topLeft()));
            for (int j = 0; j < t.controlCount; ++j) {
                const DialogControl& o = t.controls[j];
                QWidget* other = Widget(d, o.id);
                if (o.x < c.x) {
                    EXPECT_LT(other->x(), w->x()) << o.id;
                }
                if (o.y < c.y) {
                    EXPECT_LT(other->y(), w->y()) << o.id;
                }
            }
        }
        d.EndDialog(kIdOk);
    });
    EXPECT_EQ(dialog.DoModal(), kIdOk);
    EXPECT_EQ(dialog.m_hWnd, kNoWindow);
}

// The combo boxes as the dialog fills and reads them, which is not Qt's way:
// a sorted box sorts only what is added, and nothing is selected unasked.
TEST(QtDialogTest, CombosSortAddedItemsKeepInsertedPositionsAndFindPrefixesAnyCase) {
    ProbeDialog dialog([](ProbeDialog& d) {
        CComboBox keyboard;
        keyboard.m_hWnd = d.GetDlgItem(IDC_KEYBOARD);
        CComboBox port;
        port.m_hWnd = d.GetDlgItem(IDC_PORT);
        for (const char16_t* name : {u"US", u"German", u"french", u"UK", u"Azerty"})
            keyboard.AddString(name);
        for (const char16_t* number : {u"1", u"2", u"3", u"10"})
            port.InsertString(port.GetCount(), number);
        auto* box = qobject_cast<QComboBox*>(Widget(d, IDC_KEYBOARD));
        ASSERT_NE(box, nullptr);
        QStringList names;
        for (int i = 0; i < box->count(); ++i) names << box->itemText(i);
        EXPECT_EQ(names, QStringList({"Azerty", "french", "German", "UK", "US"}));
        EXPECT_EQ(keyboard.GetCurSel(), kCbErr);
        EXPECT_EQ(port.GetCurSel(), kCbErr);

        EXPECT_EQ(port.FindString(-1, u"1"), 0);
        EXPECT_EQ(port.FindString(0, u"1"), 3);  // after `start`
        EXPECT_EQ(port.FindString(3, u"1"), 0);  // and round again
        EXPECT_EQ(port.FindString(-1, u"4"), kCbErr);
        EXPECT_EQ(keyboard.FindString(-1, u"FRE"), 1);
        EXPECT_EQ(keyboard.SetCurSel(keyboard.FindString(-1, u"germ")), 2);
        EXPECT_EQ(box->currentText(), "German");
        char16_t text[16] = {};
        EXPECT_EQ(keyboard.GetLBText(keyboard.GetCurSel(), text), 6);
        EXPECT_EQ(std::u16string(text), u"German");
        // A selected item stays selected when another is inserted before it.
        keyboard.InsertString(0, u"Belgian");
        EXPECT_EQ(keyboard.GetCurSel(), 3);
        EXPECT_EQ(keyboard.SetCurSel(kCbErr), kCbErr);
        EXPECT_EQ(keyboard.GetCurSel(), kCbErr);
        d.EndDialog(kIdOk);
    });
    EXPECT_EQ(dialog.DoModal(), kIdOk);
}

TEST(QtDialogTest, TimerTicksButtonsAndKeysReachWindowProcOnTheGuiThread) {
    constexpr std::uintptr_t kOnce = 7;
    constexpr std::uintptr_t kEvery = 8;
    ProbeDialog dialog([](ProbeDialog& d) {
        // One timer killed at its first tick, one that keeps ticking.
        d.SetTimer(kEvery, 1);
        d.SetTimer(kOnce, 1);
        ASSERT_TRUE(PumpUntil([&] { return d.Count(kWmTimer, kOnce) >= 1; }));
        EXPECT_TRUE(d.KillTimer(kOnce));
        EXPECT_FALSE(d.KillTimer(kOnce));
        const int everySoFar = d.Count(kWmTimer, kEvery);
        ASSERT_TRUE(PumpUntil([&] { return d.Count(kWmTimer, kEvery) > everySoFar + 2; }));
        EXPECT_EQ(d.Count(kWmTimer, kOnce), 1);
        EXPECT_TRUE(d.KillTimer(kEvery));

        // A click is the button's command; Enter is OK; Escape cancels, which ends the dialog.
        auto* button = qobject_cast<QPushButton*>(Widget(d, IDC_START_STOP));
        ASSERT_NE(button, nullptr);
        button->click();
        const WParam clicked = static_cast<WParam>(IDC_START_STOP) | (WParam{kBnClicked} << 16);
        EXPECT_EQ(d.Count(kWmCommand, clicked), 1);
        QWidget* window = qt::WidgetOf(d.m_hWnd);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &enter);
        EXPECT_EQ(d.okCount, 1);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &escape);
    });
    EXPECT_EQ(dialog.DoModal(), kIdCancel);
    for (const Received& r : dialog.received) EXPECT_TRUE(r.onGuiThread) << r.message;
    ASSERT_FALSE(dialog.received.empty());
    EXPECT_EQ(dialog.received.back().message, kWmDestroy);
}

TEST(QtShellTest, MessageBoxFromAnotherThreadBlocksOnlyThatThreadUntilAnsweredOrDismissed) {
    ProbeDialog dialog([](ProbeDialog& d) {
        constexpr const char16_t* kText = u"Ouverture du port série impossible (5)";

        // Answered by the user.
        BoxThread answered(kText);
        ASSERT_TRUE(PumpUntil([] { return ShownBox() != nullptr; }));
        QMessageBox* box = ShownBox();
        EXPECT_EQ(box->thread(), qApp->thread());
        EXPECT_EQ(Utf16(box->text()), kText);
        EXPECT_EQ(Utf16(box->windowTitle()), kErrorCaption);
        // The GUI goes on (a timer ticks) while the raising thread waits.
        const int ticks = d.Count(kWmTimer, 3);
        d.SetTimer(3, 1);
        ASSERT_TRUE(PumpUntil([&] { return d.Count(kWmTimer, 3) > ticks + 1; }));
        d.KillTimer(3);
        EXPECT_FALSE(answered.Returned());
        box->button(QMessageBox::Ok)->click();
        ASSERT_TRUE(answered.WaitReturned());
        EXPECT_EQ(answered.Result(), kIdOk);

        // Dismissed by a quit while shown: the thread goes on, the box goes away.
        BoxThread shown(kText);
        ASSERT_TRUE(PumpUntil([] { return ShownBox() != nullptr; }));
        DismissMessageBoxes(ThreadHandle{1});
        ASSERT_TRUE(shown.WaitReturned());
        EXPECT_EQ(shown.Result(), kIdOk);
        EXPECT_TRUE(PumpUntil([] { return ShownBox() == nullptr; }));

        // Dismissed before the GUI thread got to show it: it never appears.
        BoxThread early(kText);
        QDeadlineTimer deadline(kGuardMs);
        while (!early.Returned() && !deadline.hasExpired()) DismissMessageBoxes(ThreadHandle{1});
        ASSERT_TRUE(early.Returned());
        Pump();
        EXPECT_EQ(ShownBox(), nullptr);
        d.EndDialog(kIdOk);
    });
    EXPECT_EQ(dialog.DoModal(), kIdOk);
}

TEST(QtShellTest, TrayFollowsEveryThreadInOrderAndSendsClicksAndQuitsToItsWindow) {
    constexpr std::uint32_t kId = 5;
    constexpr std::uint32_t kCallback = kWmUser + 9;
    ProbeDialog dialog([](ProbeDialog& d) {
        char16_t self[kTextCapacity] = {};
        GetModuleFileNameW(self, kTextCapacity);
        IconHandle ready = kNoIcon;
        IconHandle notReady = kNoIcon;
        ASSERT_EQ(ExtractIconExW(self, -IDI_READY, nullptr, &ready, 1), 1u);
        ASSERT_EQ(ExtractIconExW(self, -IDI_NOT_READY, nullptr, &notReady, 1), 1u);
        EXPECT_EQ(ExtractIconExW(self, -1, nullptr, &ready, 1), 0u);
        ASSERT_FALSE(qt::IconOf(ready).isNull());
        EXPECT_FALSE(qt::IconOf(ready).pixmap(16, 16).isNull());

        NotifyIconData record;
        record.hWnd = d.m_hWnd;
        record.uID = kId;
        record.uFlags = kNifMessage | kNifIcon | kNifTip;
        record.uCallbackMessage = kCallback;
        record.hIcon = notReady;
        std::copy_n(u"first", 6, record.szTip);
        ASSERT_TRUE(Shell_NotifyIconW(kNimAdd, &record));
        EXPECT_FALSE(Shell_NotifyIconW(kNimAdd, &record));
        QSystemTrayIcon* icon = qt::TrayIcon(d.m_hWnd, kId);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(icon->toolTip(), "first");
        EXPECT_EQ(icon->icon().cacheKey(), qt::IconOf(notReady).cacheKey());

        // Status from another thread, many times: the icon ends with the last.
        std::thread reception([&] {
            NotifyIconData update = record;
            for (int i = 0; i <= 50; ++i) {
                const std::u16string tip = u"status " + Utf16(QString::number(i));
                std::copy_n(tip.c_str(), tip.size() + 1, update.szTip);
                update.hIcon = i % 2 == 0 ? ready : notReady;
                Shell_NotifyIconW(kNimModify, &update);
            }
        });
        reception.join();
        ASSERT_TRUE(PumpUntil([&] { return icon->toolTip() == "status 50"; }));
        EXPECT_EQ(icon->icon().cacheKey(), qt::IconOf(ready).cacheKey());

        // Clicks arrive as the callback message with the icon's id.
        const auto mouse = [&](std::uint32_t button) {
            int n = 0;
            for (const Received& r : d.received)
                n += r.message == kCallback && r.wParam == kId &&
                     static_cast<std::uint32_t>(r.lParam) == button;
            return n;
        };
        emit icon->activated(QSystemTrayIcon::Trigger);
        EXPECT_EQ(mouse(kWmLButtonDown), 1);
        emit icon->activated(QSystemTrayIcon::Context);
        EXPECT_EQ(mouse(kWmRButtonDown), 1);

        // SIGTERM quits the way the right click does, and answers any box
        // that would hold the quit up.
        BoxThread held(u"held");
        ASSERT_TRUE(PumpUntil([] { return ShownBox() != nullptr; }));
        std::raise(SIGTERM);
        ASSERT_TRUE(PumpUntil([&] { return mouse(kWmRButtonDown) == 2; }));
        EXPECT_TRUE(held.WaitReturned());
        // So does the end of the desktop session, which reaches the
        // application as a Quit event.
        QEvent sessionEnd(QEvent::Quit);
        QCoreApplication::sendEvent(qApp, &sessionEnd);
        EXPECT_EQ(mouse(kWmRButtonDown), 3);

        ASSERT_TRUE(Shell_NotifyIconW(kNimDelete, &record));
        EXPECT_EQ(qt::TrayIcon(d.m_hWnd, kId), nullptr);
        EXPECT_FALSE(Shell_NotifyIconW(kNimModify, &record));
        d.EndDialog(kIdOk);
    });
    EXPECT_EQ(dialog.DoModal(), kIdOk);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    qt::RouteQuitRequestsToTray();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
