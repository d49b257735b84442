// The window side of the dialog framework on Qt Widgets: the modal dialog is
// built from the same template description as on Windows (dialog units turned
// into pixels with the dialog font's metrics, as the Windows dialog manager
// does), its controls behave as the Windows controls the dialog was written
// for (unsorted insertion, no automatic selection, prefix search), and every
// command, timer tick and tray message enters the dialog's WindowProc on the
// GUI thread.
#include "platform/framework.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <map>
#include <unordered_map>
#include <vector>

#include "platform/linux/qt/icons_private.h"
#include "platform/linux/qt/windows_private.h"

namespace platform {

namespace {

// The template description. Everything below reaches it through these names
// and through TemplateOf: the template the dialog was handed.
using TemplateControlClass = ControlClass;
using TemplateControl = DialogControl;

const DialogTemplate* TemplateOf(const CDialog& dialog) {
    return &dialog.Template();
}

// The style bits of the template this window side reads (Windows values).
constexpr std::uint32_t kWsDisabled = 0x08000000u;
constexpr std::uint32_t kWsCaption = 0x00C00000u;
constexpr std::uint32_t kWsSysMenu = 0x00080000u;
constexpr std::uint32_t kWsTabStop = 0x00010000u;
constexpr std::uint32_t kDsSetFont = 0x00000040u;
constexpr std::uint32_t kBsGroupBox = 0x0007;
constexpr std::uint32_t kBsAutoRadioButton = 0x0009;
constexpr std::uint32_t kSsBitmap = 0x000E;

// The low style bits say which kind of button or static control it is.
constexpr std::uint32_t kButtonKindMask = 0x000F;  // BS_TYPEMASK
constexpr std::uint32_t kStaticKindMask = 0x001F;  // SS_TYPEMASK

constexpr std::uint32_t kShortestTimerMs = 10;  // USER_TIMER_MINIMUM

// What the window side keeps: every window it made, by handle, and the quit
// the shell registered. GUI thread only.
struct WindowsState {
    std::unordered_map<WindowHandle, QPointer<QWidget>> live;
    void (*quit)() = nullptr;
};
WindowsState windows;

WindowHandle Register(QWidget* widget) {
    const WindowHandle handle = qt::HandleOf(widget);
    windows.live[handle] = widget;
    return handle;
}

QString Text(const char16_t* text) {
    return text != nullptr ? QString::fromUtf16(text) : QString();
}

WParam CommandWParam(int id, std::uint32_t code) {
    return (static_cast<WParam>(code) << 16) | (static_cast<WParam>(id) & 0xFFFFu);
}

// The dialog window: the modal loop and the timers live here; its keyboard
// and close button become the kIdOk and kIdCancel commands, as the Windows
// dialog manager makes them.
class DialogWindow final : public QDialog {
  public:
    DialogWindow(CDialog* owner, QWidget* parent) : QDialog(parent), m_owner(owner) {}

    CDialog* Owner() const { return m_owner; }

    void Command(int id, QWidget* control) {
        m_owner->WindowProc(kWmCommand, CommandWParam(id, kBnClicked),
                            control != nullptr ? static_cast<LParam>(qt::HandleOf(control)) : 0);
    }

    std::map<int, QPointer<QWidget>> controls;
    std::map<std::uintptr_t, QTimer*> timers;
    IconHandle icons[2] = {kNoIcon, kNoIcon};  // kIconSmall, kIconBig
    QEventLoop loop;
    bool endRequested = false;
    bool showCalled = false;
    std::intptr_t result = 0;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter: {
                // A focused push button takes Enter itself; otherwise it is OK.
                QWidget* focus = focusWidget();
                for (const auto& [id, control] : controls) {
                    if (control == focus && qobject_cast<QPushButton*>(focus) != nullptr) {
                        Command(id, focus);
                        return;
                    }
                }
                Command(kIdOk, nullptr);
                return;
            }
            case Qt::Key_Escape:
                Command(kIdCancel, nullptr);
                return;
            default:
                QWidget::keyPressEvent(event);
        }
    }
    // The caption's close button cancels the dialog; the window itself goes
    // only when the dialog has ended.
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        Command(kIdCancel, nullptr);
    }

  private:
    CDialog* m_owner;
};

DialogWindow* DialogOf(WindowHandle window) {
    return dynamic_cast<DialogWindow*>(qt::WidgetOf(window));
}

// Dialog base units of a font, as Windows computes them: the average width of
// the 52 letters, rounded, and the font's full height.
struct BaseUnits {
    int x;
    int y;
};

BaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.height()};
}

// value * numerator / denominator, rounded to the nearest (Windows' MulDiv,
// which maps dialog units).
int MulDiv(int value, int numerator, int denominator) {
    const int twice = 2 * value * numerator / denominator;
    return twice >= 0 ? (twice + 1) / 2 : -((1 - twice) / 2);
}

QRect Pixels(const BaseUnits& units, int x, int y, int cx, int cy) {
    return {MulDiv(x, units.x, 4), MulDiv(y, units.y, 8), MulDiv(cx, units.x, 4),
            MulDiv(cy, units.y, 8)};
}

QWidget* MakeControl(DialogWindow& window, const TemplateControl& c, const BaseUnits& units) {
    const QRect box = Pixels(units, c.x, c.y, c.cx, c.cy);
    const int id = c.id;
    QWidget* widget = nullptr;
    switch (c.controlClass) {
        case TemplateControlClass::Button: {
            const std::uint32_t kind = c.style & kButtonKindMask;
            if (kind == kBsGroupBox) {
                auto* group = new QGroupBox(Text(c.text), &window);
                // A group box is only a frame: the controls inside it are its
                // siblings and must get the clicks.
                group->setAttribute(Qt::WA_TransparentForMouseEvents);
                widget = group;
            } else if (kind == kBsAutoRadioButton) {
                auto* radio = new QRadioButton(Text(c.text), &window);
                // Checks are the dialog's business (kBmSetCheck); a click only
                // ever checks, as an auto radio button's does.
                radio->setAutoExclusive(false);
                QObject::connect(radio, &QAbstractButton::clicked, &window, [&window, radio, id] {
                    radio->setChecked(true);
                    window.Command(id, radio);
                });
                widget = radio;
            } else {
                auto* button = new QPushButton(Text(c.text), &window);
                button->setAutoDefault(false);
                QObject::connect(button, &QAbstractButton::clicked, &window,
                                 [&window, button, id] { window.Command(id, button); });
                widget = button;
            }
            widget->setGeometry(box);
            break;
        }
        case TemplateControlClass::ComboBox: {
            auto* combo = new QComboBox(&window);
            combo->setProperty("quorvelSorted", (c.style & kCbsSort) != 0);
            // The template's height includes the dropped-down list; the
            // closed box is as high as its font needs.
            widget = combo;
            widget->setGeometry(box.x(), box.y(), box.width(), combo->sizeHint().height());
            break;
        }
        case TemplateControlClass::Static: {
            auto* label = new QLabel(&window);
            if ((c.style & kStaticKindMask) == kSsBitmap) {
                // A picture takes the size of its bitmap.
                const QPixmap picture(QStringLiteral(":/bitmap/%1.bmp").arg(c.imageId));
                label->setPixmap(picture);
                label->setGeometry(QRect(box.topLeft(), picture.size()));
            } else {
                label->setText(Text(c.text));
                label->setWordWrap(true);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                label->setGeometry(box);
            }
            widget = label;
            break;
        }
    }
    const bool interactive = c.controlClass == TemplateControlClass::ComboBox ||
                             qobject_cast<QPushButton*>(widget) != nullptr ||
                             qobject_cast<QRadioButton*>(widget) != nullptr;
    if (interactive)
        widget->setFocusPolicy((c.style & kWsTabStop) ? Qt::StrongFocus : Qt::ClickFocus);
    // A disabled picture still shows its bitmap as it is.
    if ((c.style & kWsDisabled) && (c.style & kStaticKindMask) != kSsBitmap)
        widget->setEnabled(false);
    widget->setHidden((c.style & kWsVisible) == 0);
    return widget;
}

void BuildWindow(DialogWindow& window, const DialogTemplate& t) {
    // The template's face is the small device's system font; the desktop's
    // own face at the template's size keeps the layout in proportion.
    QFont font = QApplication::font();
    if ((t.style & kDsSetFont) && t.pointSize > 0) font.setPointSize(t.pointSize);
    window.setFont(font);
    const BaseUnits units = BaseUnitsOf(font);

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint;
    if (t.style & kWsCaption) flags |= Qt::WindowTitleHint;
    if (t.style & kWsSysMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    window.setWindowFlags(flags);
    window.setWindowTitle(Text(t.caption));
    const QRect frame = Pixels(units, t.x, t.y, t.cx, t.cy);
    window.setFixedSize(frame.size());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().topLeft() + frame.topLeft());

    // Template order is the tab order, which Qt takes from creation order.
    std::vector<QWidget*> groups;
    for (int i = 0; i < t.controlCount; ++i) {
        QWidget* widget = MakeControl(window, t.controls[i], units);
        window.controls[t.controls[i].id] = widget;
        Register(widget);
        if (qobject_cast<QGroupBox*>(widget) != nullptr) groups.push_back(widget);
    }
    // Frames behind the controls they surround.
    for (QWidget* group : groups) group->lower();
}

// Letter case as a combo box ignores it.
bool StartsWithAnyCase(const QString& text, const QString& prefix) {
    return text.startsWith(prefix, Qt::CaseInsensitive);
}

LResult ComboMessage(QComboBox& combo, std::uint32_t message, WParam wParam, LParam lParam) {
    const int count = combo.count();
    const auto index = static_cast<std::intptr_t>(wParam);
    const int selection = combo.currentIndex();
    // Qt selects the first item added to an empty box; a Windows combo box
    // selects nothing until told to.
    auto insertAt = [&](int at, const QString& text) {
        combo.insertItem(at, text);
        combo.setItemData(at, text, Qt::ToolTipRole);
        if (selection < 0) combo.setCurrentIndex(-1);
        // The template's narrow box cannot show a long item (the Port list
        // says where each port leads): the open list is as wide as its items.
        combo.view()->setMinimumWidth(combo.view()->sizeHintForColumn(0) +
                                      combo.view()->verticalScrollBar()->sizeHint().width());
        return static_cast<LResult>(at);
    };
    switch (message) {
        case kCbAddString: {
            const QString text = Text(reinterpret_cast<const char16_t*>(lParam));
            int at = count;
            if (combo.property("quorvelSorted").toBool()) {
                at = 0;
                while (at < count &&
                       QString::compare(combo.itemText(at), text, Qt::CaseInsensitive) <= 0)
                    ++at;
            }
            return insertAt(at, text);
        }
        case kCbInsertString: {
            // At the position asked for, even in a sorted box.
            if (index > count) return kCbErr;
            const int at = index < 0 ? count : static_cast<int>(index);
            return insertAt(at, Text(reinterpret_cast<const char16_t*>(lParam)));
        }
        case kCbFindString: {
            if (count == 0) return kCbErr;
            const QString prefix = Text(reinterpret_cast<const char16_t*>(lParam));
            // From the item after `start` to the end, then from the top round to it.
            const std::intptr_t start = (index < 0 || index >= count) ? -1 : index;
            for (std::intptr_t step = 1; step <= count; ++step) {
                const auto i = static_cast<int>((start + step) % count);
                if (StartsWithAnyCase(combo.itemText(i), prefix)) return i;
            }
            return kCbErr;
        }
        case kCbSetCurSel:
            if (index < 0 || index >= count) {
                combo.setCurrentIndex(-1);
                return kCbErr;
            }
            combo.setCurrentIndex(static_cast<int>(index));
            return static_cast<LResult>(index);
        case kCbGetCurSel:
            return selection < 0 ? kCbErr : selection;
        case kCbGetCount:
            return count;
        case kCbGetLbTextLen:
            if (index < 0 || index >= count) return kCbErr;
            return combo.itemText(static_cast<int>(index)).size();
        case kCbGetLbText: {
            if (index < 0 || index >= count) return kCbErr;
            const QString item = combo.itemText(static_cast<int>(index));
            auto* buffer = reinterpret_cast<char16_t*>(lParam);
            std::copy(item.utf16(), item.utf16() + item.size(), buffer);
            buffer[item.size()] = 0;
            return item.size();
        }
        default:
            return 0;
    }
}

}  // namespace

namespace qt {

QWidget* WidgetOf(WindowHandle window) {
    const auto it = windows.live.find(window);
    return it != windows.live.end() ? it->second.data() : nullptr;
}

WindowHandle HandleOf(QWidget* widget) {
    return WindowHandle{reinterpret_cast<std::uintptr_t>(widget)};
}

void SetQuitHandler(void (*quit)()) {
    windows.quit = quit;
}

}  // namespace qt

// ---------------------------------------------------------------------------
// CWnd: window operations on this object's window (on the GUI thread).

bool CWnd::ShowWindow(int command) {
    QWidget* widget = qt::WidgetOf(m_hWnd);
    if (widget == nullptr) return false;
    if (DialogWindow* dialog = DialogOf(m_hWnd)) {
        // A minimised window is still a visible one.
        const bool was = dialog->isVisible();
        dialog->showCalled = true;
        if (command == kSwHide) {
            dialog->hide();
        } else if (command == kSwMinimize) {
            dialog->showMinimized();
        } else {
            dialog->showNormal();
        }
        return was;
    }
    const bool was = !widget->isHidden();
    widget->setHidden(command == kSwHide);
    return was;
}

bool CWnd::SetWindowTextW(const char16_t* text) {
    QWidget* widget = qt::WidgetOf(m_hWnd);
    if (widget == nullptr) return false;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(Text(text));
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(Text(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(Text(text));
    } else if (widget->isWindow()) {
        widget->setWindowTitle(Text(text));
    }
    return true;
}

LResult CWnd::SendMessageW(std::uint32_t message, WParam wParam, LParam lParam) {
    if (DialogWindow* dialog = DialogOf(m_hWnd)) {
        if (message == kWmSetIcon) {
            IconHandle& slot = dialog->icons[wParam == kIconBig ? 1 : 0];
            const IconHandle previous = slot;
            slot = IconHandle{static_cast<std::uintptr_t>(lParam)};
            // Qt has one window icon, with every size in it: the big one wins.
            const IconHandle shown =
                dialog->icons[1] != kNoIcon ? dialog->icons[1] : dialog->icons[0];
            dialog->setWindowIcon(qt::IconOf(shown));
            return static_cast<LResult>(previous);
        }
        // Anything else sent to the dialog goes through its window procedure.
        return dialog->Owner()->WindowProc(message, wParam, lParam);
    }
    QWidget* widget = qt::WidgetOf(m_hWnd);
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        return ComboMessage(*combo, message, wParam, lParam);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        if (message == kBmSetCheck && button->isCheckable())
            button->setChecked(wParam == kBstChecked);
        if (message == kBmGetCheck) return button->isChecked() ? kBstChecked : kBstUnchecked;
    }
    return 0;
}

bool CWnd::SetForegroundWindow() {
    QWidget* widget = qt::WidgetOf(m_hWnd);
    if (widget == nullptr || !widget->isWindow()) return false;
    widget->raise();
    widget->activateWindow();
    return true;
}

std::uintptr_t CWnd::SetTimer(std::uintptr_t id, std::uint32_t elapse) {
    DialogWindow* dialog = DialogOf(m_hWnd);
    if (dialog == nullptr) return 0;
    QTimer*& timer = dialog->timers[id];
    if (timer == nullptr) {
        timer = new QTimer(dialog);
        CDialog* owner = dialog->Owner();
        QObject::connect(timer, &QTimer::timeout, dialog,
                         [owner, id] { owner->WindowProc(kWmTimer, id, 0); });
    }
    // Setting an armed timer again starts its period afresh. As on Windows,
    // no period is shorter than 10 ms (a zero one would tick whenever idle).
    timer->start(static_cast<int>(std::clamp<std::uint32_t>(elapse, kShortestTimerMs, INT32_MAX)));
    return id;
}

bool CWnd::KillTimer(std::uintptr_t id) {
    DialogWindow* dialog = DialogOf(m_hWnd);
    if (dialog == nullptr) return false;
    const auto it = dialog->timers.find(id);
    if (it == dialog->timers.end()) return false;
    // Its own tick may be what kills it.
    it->second->stop();
    it->second->deleteLater();
    dialog->timers.erase(it);
    return true;
}

WindowHandle CWnd::GetDlgItem(int id) const {
    DialogWindow* dialog = DialogOf(m_hWnd);
    if (dialog == nullptr) return kNoWindow;
    const auto it = dialog->controls.find(id);
    return it != dialog->controls.end() && it->second ? qt::HandleOf(it->second) : kNoWindow;
}

LResult CWnd::DefWindowProcW(std::uint32_t, WParam, LParam) {
    return 0;
}

// ---------------------------------------------------------------------------
// CDialog

std::intptr_t CDialog::DoModal() {
    const DialogTemplate* t = TemplateOf(*this);
    if (t == nullptr || qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return -1;
    QWidget* parent = m_pParentWnd != nullptr ? qt::WidgetOf(m_pParentWnd->m_hWnd) : nullptr;
    auto* window = new DialogWindow(this, parent);
    BuildWindow(*window, *t);
    m_hWnd = Register(window);

    OnInitDialog();

    // After an EndDialog inside OnInitDialog the window is never shown and
    // the loop never entered.
    if (!window->endRequested) {
        if ((t->style & kWsVisible) && !window->showCalled) window->show();
        while (!window->endRequested) {
            window->loop.exec();
            // Only EndDialog ends the loop; an application-wide exit (which
            // ends every loop) is a quit, taken the tray's way so that
            // reception ends in order.
            if (!window->endRequested && windows.quit != nullptr) windows.quit();
            if (!window->endRequested) EndDialog(kIdCancel);
        }
    }

    window->hide();
    WindowProc(kWmDestroy, 0, 0);

    for (auto& [id, timer] : window->timers) timer->stop();
    window->timers.clear();
    for (const auto& [id, control] : window->controls) windows.live.erase(qt::HandleOf(control));
    windows.live.erase(m_hWnd);
    m_hWnd = kNoWindow;
    const std::intptr_t result = window->result;
    delete window;
    return result;
}

void CDialog::EndDialog(std::intptr_t result) {
    DialogWindow* dialog = DialogOf(m_hWnd);
    if (dialog == nullptr || dialog->endRequested) return;
    dialog->endRequested = true;
    dialog->result = result;
    dialog->loop.exit();
}

// ---------------------------------------------------------------------------
// CWinApp

int CWinApp::Run() {
    return QApplication::exec();
}

}  // namespace platform
