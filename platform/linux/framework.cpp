// The window side of the dialog framework on Qt Widgets: the modal dialog is
// built from the same template description as on Windows (dialog units turned
// into pixels with the dialog font's metrics, as the Windows dialog manager
// does), its controls behave as the Windows controls the dialog was written
// for (unsorted insertion, no automatic selection, prefix search), and every
// command, timer tick and tray message enters the dialog's WindowProc on the
// GUI thread.
#include "platform/framework.h"

#include <QAbstractButton>
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
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <map>
#include <unordered_map>
#include <vector>

#include "app/resources/dialog_template.h"
#include "platform/linux/qt_backend.h"

namespace platform {

namespace {

// The template description. Everything below reaches it through these names
// and through TemplateOf, so that where templates come from stays in one place.
using TemplateControlClass = resources::ControlClass;
using TemplateControl = resources::DialogControl;
using DialogTemplate = resources::DialogTemplate;

const DialogTemplate* TemplateOf(const CDialog& dialog) {
    return resources::FindDialogTemplate(dialog.TemplateId());
}

// The low style bits say which kind of button or static control it is.
constexpr std::uint32_t kButtonKindMask = 0x000F;  // BS_TYPEMASK
constexpr std::uint32_t kStaticKindMask = 0x001F;  // SS_TYPEMASK

constexpr std::uint32_t kShortestTimerMs = 10;  // USER_TIMER_MINIMUM

// Every window the framework made, by handle. GUI thread only.
std::unordered_map<Handle, QPointer<QWidget>> liveWindows;

Handle Register(QWidget* widget) {
    const Handle handle = qt::HandleOf(widget);
    liveWindows[handle] = widget;
    return handle;
}

QString Text(const char16_t* text) {
    return text != nullptr ? QString::fromUtf16(text) : QString();
}

WParam CommandWParam(int id, std::uint32_t code) {
    return (static_cast<WParam>(code) << 16) | (static_cast<WParam>(id) & 0xFFFFu);
}

// The dialog window: the modal loop and the timers live here; its keyboard
// and close button become the IDOK and IDCANCEL commands, as the Windows
// dialog manager makes them.
class DialogWindow final : public QDialog {
  public:
    DialogWindow(CDialog* owner, QWidget* parent) : QDialog(parent), m_owner(owner) {}

    CDialog* Owner() const { return m_owner; }

    void Command(int id, QWidget* control) {
        m_owner->WindowProc(WM_COMMAND, CommandWParam(id, BN_CLICKED),
                            control != nullptr ? static_cast<LParam>(qt::HandleOf(control)) : 0);
    }

    std::map<int, QPointer<QWidget>> controls;
    std::map<std::uintptr_t, QTimer*> timers;
    Handle icons[2] = {kNoHandle, kNoHandle};  // ICON_SMALL, ICON_BIG
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
                Command(IDOK, nullptr);
                return;
            }
            case Qt::Key_Escape:
                Command(IDCANCEL, nullptr);
                return;
            default:
                QWidget::keyPressEvent(event);
        }
    }
    // The caption's close button cancels the dialog; the window itself goes
    // only when the dialog has ended.
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        Command(IDCANCEL, nullptr);
    }

  private:
    CDialog* m_owner;
};

DialogWindow* DialogOf(Handle window) {
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
            if (kind == BS_GROUPBOX) {
                auto* group = new QGroupBox(Text(c.text), &window);
                // A group box is only a frame: the controls inside it are its
                // siblings and must get the clicks.
                group->setAttribute(Qt::WA_TransparentForMouseEvents);
                widget = group;
            } else if (kind == BS_AUTORADIOBUTTON) {
                auto* radio = new QRadioButton(Text(c.text), &window);
                // Checks are the dialog's business (BM_SETCHECK); a click only
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
            combo->setProperty("quorvelSorted", (c.style & CBS_SORT) != 0);
            // The template's height includes the dropped-down list; the
            // closed box is as high as its font needs.
            widget = combo;
            widget->setGeometry(box.x(), box.y(), box.width(), combo->sizeHint().height());
            break;
        }
        case TemplateControlClass::Static: {
            auto* label = new QLabel(&window);
            if ((c.style & kStaticKindMask) == SS_BITMAP) {
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
        widget->setFocusPolicy((c.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
    // A disabled picture still shows its bitmap as it is.
    if ((c.style & WS_DISABLED) && (c.style & kStaticKindMask) != SS_BITMAP)
        widget->setEnabled(false);
    widget->setHidden((c.style & WS_VISIBLE) == 0);
    return widget;
}

void BuildWindow(DialogWindow& window, const DialogTemplate& t) {
    // The template's face is the small device's system font; the desktop's
    // own face at the template's size keeps the layout in proportion.
    QFont font = QApplication::font();
    if ((t.style & DS_SETFONT) && t.pointSize > 0) font.setPointSize(t.pointSize);
    window.setFont(font);
    const BaseUnits units = BaseUnitsOf(font);

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint;
    if (t.style & WS_CAPTION) flags |= Qt::WindowTitleHint;
    if (t.style & WS_SYSMENU) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
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
        if (selection < 0) combo.setCurrentIndex(-1);
        return static_cast<LResult>(at);
    };
    switch (message) {
        case CB_ADDSTRING: {
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
        case CB_INSERTSTRING: {
            // At the position asked for, even in a sorted box.
            if (index > count) return CB_ERR;
            const int at = index < 0 ? count : static_cast<int>(index);
            return insertAt(at, Text(reinterpret_cast<const char16_t*>(lParam)));
        }
        case CB_FINDSTRING: {
            if (count == 0) return CB_ERR;
            const QString prefix = Text(reinterpret_cast<const char16_t*>(lParam));
            // From the item after `start` to the end, then from the top round to it.
            const std::intptr_t start = (index < 0 || index >= count) ? -1 : index;
            for (std::intptr_t step = 1; step <= count; ++step) {
                const auto i = static_cast<int>((start + step) % count);
                if (StartsWithAnyCase(combo.itemText(i), prefix)) return i;
            }
            return CB_ERR;
        }
        case CB_SETCURSEL:
            if (index < 0 || index >= count) {
                combo.setCurrentIndex(-1);
                return CB_ERR;
            }
            combo.setCurrentIndex(static_cast<int>(index));
            return static_cast<LResult>(index);
        case CB_GETCURSEL:
            return selection < 0 ? CB_ERR : selection;
        case CB_GETCOUNT:
            return count;
        case CB_GETLBTEXTLEN:
            if (index < 0 || index >= count) return CB_ERR;
            return combo.itemText(static_cast<int>(index)).size();
        case CB_GETLBTEXT: {
            if (index < 0 || index >= count) return CB_ERR;
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

QWidget* WidgetOf(Handle window) {
    const auto it = liveWindows.find(window);
    return it != liveWindows.end() ? it->second.data() : nullptr;
}

Handle HandleOf(QWidget* widget) {
    return reinterpret_cast<Handle>(widget);
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
        if (command == SW_HIDE) {
            dialog->hide();
        } else if (command == SW_MINIMIZE) {
            dialog->showMinimized();
        } else {
            dialog->showNormal();
        }
        return was;
    }
    const bool was = !widget->isHidden();
    widget->setHidden(command == SW_HIDE);
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
        if (message == WM_SETICON) {
            Handle& slot = dialog->icons[wParam == ICON_BIG ? 1 : 0];
            const Handle previous = slot;
            slot = static_cast<Handle>(lParam);
            // Qt has one window icon, with every size in it: the big one wins.
            const Handle shown =
                dialog->icons[1] != kNoHandle ? dialog->icons[1] : dialog->icons[0];
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
        if (message == BM_SETCHECK && button->isCheckable())
            button->setChecked(wParam == BST_CHECKED);
        if (message == BM_GETCHECK) return button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
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
                         [owner, id] { owner->WindowProc(WM_TIMER, id, 0); });
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

Handle CWnd::GetDlgItem(int id) const {
    DialogWindow* dialog = DialogOf(m_hWnd);
    if (dialog == nullptr) return kNoHandle;
    const auto it = dialog->controls.find(id);
    return it != dialog->controls.end() && it->second ? qt::HandleOf(it->second) : kNoHandle;
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
        if ((t->style & WS_VISIBLE) && !window->showCalled) window->show();
        while (!window->endRequested) {
            window->loop.exec();
            // Only EndDialog ends the loop; an application-wide exit (which
            // ends every loop) is a quit, taken the tray's way so that
            // reception ends in order.
            if (!window->endRequested) qt::QuitAsFromTray();
            if (!window->endRequested) EndDialog(IDCANCEL);
        }
    }

    window->hide();
    WindowProc(WM_DESTROY, 0, 0);

    for (auto& [id, timer] : window->timers) timer->stop();
    window->timers.clear();
    for (const auto& [id, control] : window->controls) liveWindows.erase(qt::HandleOf(control));
    liveWindows.erase(m_hWnd);
    m_hWnd = kNoHandle;
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
