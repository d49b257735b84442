// Linux shell services on Qt: the tray icon, message boxes that show on the
// GUI thread and block only the thread that raised them, the program's icons
// (qt/icons.cpp), and the signals, session end and application-wide exit that
// end the program the way the tray icon's right click does.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/framework.h"
#include "platform/linux/qt/icons_private.h"
#include "platform/linux/qt/tray.h"
#include "platform/linux/qt/windows_private.h"
#include "platform/services.h"
#include "platform/text.h"

namespace platform {

namespace {

bool HaveWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

bool OnGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

// Runs `work` on the GUI thread: at once from there, else queued behind what
// other threads asked before (so updates keep their order).
template <class Work>
void OnGui(Work work) {
    if (OnGuiThread()) {
        work();
    } else if (QCoreApplication* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
    }
}

QString Text(const char16_t* text) {
    return text != nullptr ? QString::fromUtf16(text) : QString();
}

// ---------------------------------------------------------------------------
// Message boxes.

struct OpenBox {
    std::thread::id thread;
    bool answered = false;         // under boxes.lock
    QPointer<QMessageBox> widget;  // GUI thread only
};

struct MessageBoxesState {
    std::mutex lock;
    std::condition_variable answered;
    std::vector<std::shared_ptr<OpenBox>> open;  // under lock
};
MessageBoxesState boxes;

void Answer(const std::shared_ptr<OpenBox>& box) {
    std::lock_guard lock(boxes.lock);
    box->answered = true;
    boxes.answered.notify_all();
}

bool Answered(const OpenBox& box) {
    std::lock_guard lock(boxes.lock);
    return box.answered;
}

QMessageBox* MakeBox(const QString& text, const QString& caption, QWidget* owner) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
    // A box without an owner comes from the reception thread of a program
    // that lives in the tray: it goes on top, or nobody would see it.
    if (owner == nullptr) box->setWindowFlag(Qt::WindowStaysOnTopHint);
    return box;
}

// Answers the open boxes that `chosen` picks, as an OK would: their threads
// go on at once, and their windows close on the GUI thread.
template <class Choice>
void DismissBoxes(Choice chosen) {
    std::vector<std::shared_ptr<OpenBox>> dismissed;
    {
        std::lock_guard lock(boxes.lock);
        for (const auto& box : boxes.open) {
            if (box->answered || !chosen(*box)) continue;
            box->answered = true;
            dismissed.push_back(box);
        }
        boxes.answered.notify_all();
    }
    if (dismissed.empty()) return;
    OnGui([dismissed] {
        for (const auto& box : dismissed)
            if (box->widget) box->widget->done(QMessageBox::Ok);
    });
}

// Where there is no GUI (nothing made a QApplication), a line on standard error.
void PrintBox(const char16_t* text, const char16_t* caption) {
    unsigned char line[2048];
    auto put = [&](const char16_t* t) {
        const std::ptrdiff_t n = EncodeUtf8(t, line, sizeof line);
        if (n > 0) std::fwrite(line, 1, static_cast<std::size_t>(n), stderr);
    };
    if (caption != nullptr) {
        put(caption);
        std::fputs(": ", stderr);
    }
    if (text != nullptr) put(text);
    std::fputc('\n', stderr);
}

// ---------------------------------------------------------------------------
// Tray icons. Any thread says what it wants; the GUI thread makes it so.

struct TrayKey {
    WindowHandle window;
    std::uint32_t id;
    bool operator<(const TrayKey& other) const {
        return window != other.window ? window < other.window : id < other.id;
    }
};

struct TrayWanted {
    std::uint32_t callbackMessage = 0;
    IconHandle icon = kNoIcon;
    QString tip;
};

struct TrayState {
    std::mutex lock;
    std::map<TrayKey, TrayWanted> wanted;       // under lock
    std::map<TrayKey, QSystemTrayIcon*> shown;  // GUI thread only
};
TrayState tray;

// The mouse actions of a tray icon as the window it notifies receives them.
// A double click's second press is a double click, not another press.
constexpr std::uint32_t kLeftDoubleClick = 0x0203;   // WM_LBUTTONDBLCLK
constexpr std::uint32_t kMiddleButtonDown = 0x0207;  // WM_MBUTTONDOWN

std::uint32_t MouseMessageOf(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            return kWmLButtonDown;
        case QSystemTrayIcon::Context:
            return kWmRButtonDown;
        case QSystemTrayIcon::DoubleClick:
            return kLeftDoubleClick;
        case QSystemTrayIcon::MiddleClick:
            return kMiddleButtonDown;
        default:
            return 0;
    }
}

// Sends the icon's callback message to its window, as the shell does: the
// icon's id in wParam, the mouse action in lParam.
bool NotifyWindow(const TrayKey& key, std::uint32_t mouseMessage) {
    std::uint32_t callback = 0;
    {
        std::lock_guard lock(tray.lock);
        const auto it = tray.wanted.find(key);
        if (it != tray.wanted.end()) callback = it->second.callbackMessage;
    }
    if (callback == 0 || mouseMessage == 0 || qt::WidgetOf(key.window) == nullptr) return false;
    CWnd target;
    target.m_hWnd = key.window;
    target.SendMessageW(callback, key.id, static_cast<LParam>(mouseMessage));
    return true;
}

void SyncTray() {
    std::map<TrayKey, TrayWanted> wanted;
    {
        std::lock_guard lock(tray.lock);
        wanted = tray.wanted;
    }
    for (auto it = tray.shown.begin(); it != tray.shown.end();) {
        if (wanted.count(it->first) != 0) {
            ++it;
            continue;
        }
        // Gone from the tray now; the object goes once its signals are done.
        it->second->hide();
        it->second->deleteLater();
        it = tray.shown.erase(it);
    }
    for (const auto& [key, want] : wanted) {
        QSystemTrayIcon*& icon = tray.shown[key];
        if (icon == nullptr) {
            icon = new QSystemTrayIcon(QCoreApplication::instance());
            const TrayKey target = key;
            QObject::connect(icon, &QSystemTrayIcon::activated, icon,
                             [target](QSystemTrayIcon::ActivationReason reason) {
                                 NotifyWindow(target, MouseMessageOf(reason));
                             });
        }
        if (icon->toolTip() != want.tip) icon->setToolTip(want.tip);
        const QIcon image = qt::IconOf(want.icon);
        if (icon->icon().cacheKey() != image.cacheKey()) icon->setIcon(image);
        icon->setVisible(!image.isNull());
    }
}

// ---------------------------------------------------------------------------
// Quit requests from outside: signals through a pipe the GUI thread watches,
// and the session's end, which reaches the application as a Quit event.

// The pipe the signal handler writes to.
struct QuitRequestsState {
    int pipe[2] = {-1, -1};
};
QuitRequestsState quitRequests;

void OnQuitSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(quitRequests.pipe[1], &byte, 1);
    errno = saved;
}

class QuitEventFilter final : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != QCoreApplication::instance() || event->type() != QEvent::Quit) return false;
        qt::QuitAsFromTray();
        return true;
    }
};

}  // namespace

namespace qt {

QSystemTrayIcon* TrayIcon(WindowHandle window, std::uint32_t id) {
    const auto it = tray.shown.find({window, id});
    return it != tray.shown.end() ? it->second : nullptr;
}

void QuitAsFromTray() {
    // Nothing may wait on a box now, and a box the GUI thread itself shows
    // would hold the dialog's loop open.
    DismissBoxes([](const OpenBox&) { return true; });
    std::vector<TrayKey> keys;
    {
        std::lock_guard lock(tray.lock);
        for (const auto& [key, want] : tray.wanted)
            if (want.callbackMessage != 0) keys.push_back(key);
    }
    for (const TrayKey& key : keys)
        if (NotifyWindow(key, kWmRButtonDown)) return;
    // No tray icon yet: the main dialog is ended, which ends the program too
    // (cancelling it would only hide it).
    const CWinApp* app = AfxGetApp();
    if (app == nullptr || app->m_pMainWnd == nullptr || app->m_pMainWnd->m_hWnd == kNoWindow)
        return;
    if (auto* dialog = dynamic_cast<CDialog*>(app->m_pMainWnd)) dialog->EndDialog(kIdCancel);
}

void RouteQuitRequestsToTray() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || quitRequests.pipe[0] >= 0) return;
    if (::pipe2(quitRequests.pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        auto* notifier = new QSocketNotifier(quitRequests.pipe[0], QSocketNotifier::Read, app);
        QObject::connect(notifier, &QSocketNotifier::activated, app, [] {
            char drained[64];
            while (::read(quitRequests.pipe[0], drained, sizeof drained) > 0) {
            }
            QuitAsFromTray();
        });
        struct sigaction action = {};
        action.sa_handler = OnQuitSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
    }
    app->installEventFilter(new QuitEventFilter(app));
    SetQuitHandler(QuitAsFromTray);
}

}  // namespace qt

// ---------------------------------------------------------------------------
// The seam.

std::int32_t MessageBoxW(WindowHandle owner, const char16_t* text, const char16_t* caption,
                         std::uint32_t) {
    if (!HaveWidgets()) {
        PrintBox(text, caption);
        return kIdOk;
    }
    auto box = std::make_shared<OpenBox>();
    box->thread = std::this_thread::get_id();
    {
        std::lock_guard lock(boxes.lock);
        boxes.open.push_back(box);
    }
    if (OnGuiThread()) {
        // The dialog's own thread: a modal box that keeps the GUI answering
        // (timers, the tray) while it waits, as a Windows box does.
        std::unique_ptr<QMessageBox> shown(MakeBox(Text(text), Text(caption), qt::WidgetOf(owner)));
        box->widget = shown.get();
        if (!Answered(*box)) shown->exec();
    } else {
        // Another thread: the box is the GUI thread's, and only this thread waits.
        QString body = Text(text);
        QString title = Text(caption);
        OnGui([box, owner, body, title] {
            if (Answered(*box)) return;
            QMessageBox* shown = MakeBox(body, title, qt::WidgetOf(owner));
            shown->setAttribute(Qt::WA_DeleteOnClose);
            QObject::connect(shown, &QDialog::finished, [box] { Answer(box); });
            box->widget = shown;
            shown->show();
            shown->raise();
            shown->activateWindow();
        });
        std::unique_lock lock(boxes.lock);
        boxes.answered.wait(lock, [&] { return box->answered; });
    }
    std::lock_guard lock(boxes.lock);
    std::erase(boxes.open, box);
    return kIdOk;
}

void DismissMessageBoxes(ThreadHandle thread) {
    if (thread == kNoThread) return;
    // A thread handle belongs to the threads backend and gives no way back to
    // the thread; the one thread whose boxes the program dismisses is the
    // reception thread, and never from itself. So every box that another
    // thread than the caller shows is answered.
    const std::thread::id caller = std::this_thread::get_id();
    DismissBoxes([caller](const OpenBox& box) { return box.thread != caller; });
}

bool Shell_NotifyIconW(std::uint32_t message, const NotifyIconData* data) {
    if (data == nullptr || !HaveWidgets()) return false;
    const TrayKey key{data->hWnd, data->uID};
    {
        std::lock_guard lock(tray.lock);
        auto it = tray.wanted.find(key);
        switch (message) {
            case kNimAdd:
                if (it != tray.wanted.end()) return false;
                it = tray.wanted.emplace(key, TrayWanted{}).first;
                break;
            case kNimModify:
                if (it == tray.wanted.end()) return false;
                break;
            case kNimDelete:
                if (it == tray.wanted.end()) return false;
                tray.wanted.erase(it);
                it = tray.wanted.end();
                break;
            default:
                return false;
        }
        if (it != tray.wanted.end()) {
            TrayWanted& want = it->second;
            if (data->uFlags & kNifMessage) want.callbackMessage = data->uCallbackMessage;
            if (data->uFlags & kNifIcon) want.icon = data->hIcon;
            if (data->uFlags & kNifTip) {
                qsizetype length = 0;
                while (length < qsizetype(std::size(data->szTip)) && data->szTip[length] != 0)
                    ++length;
                want.tip = QString::fromUtf16(data->szTip, length);
            }
        }
    }
    OnGui(SyncTray);
    return true;
}

std::uint32_t ExtractIconExW(const char16_t*, std::int32_t index, IconHandle* largeIcons,
                             IconHandle* smallIcons, std::uint32_t icons) {
    // The icons are compiled into the program, so the file named is always
    // this program's own.
    if (index >= 0 || index < -qt::kMaxIconResourceId || icons == 0) return 0;
    const std::int32_t id = -index;
    if (!qt::HasIconResource(id)) return 0;
    if (largeIcons != nullptr) *largeIcons = qt::LargeIconHandle(id);
    if (smallIcons != nullptr) *smallIcons = qt::SmallIconHandle(id);
    return 1;
}

}  // namespace platform
