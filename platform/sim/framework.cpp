// The simulated dialog framework: a headless window per dialog whose controls
// keep their state as real ones would, a modal loop on the caller's thread
// fed by the tests, timers that tick only when a test fires them.
#include "platform/sim/framework.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/sim/shell.h"
#include "platform/text.h"

namespace platform {
namespace sim {
namespace {

// Handles of the one simulated dialog and its controls; far from the small
// numbers the other simulated objects use.
constexpr std::uintptr_t kDialogWord = 0x7D0F0000u;
constexpr WindowHandle kDialogHandle{kDialogWord};
constexpr std::uintptr_t kControlHandleBase = 0x7D000000u;

struct Control {
    ControlClass controlClass = ControlClass::Static;
    bool sorted = false;
    bool visible = false;
    std::u16string text;
    WParam check = kBstUnchecked;
    std::vector<std::u16string> items;
    int selection = -1;
};

struct Posted {
    std::uint32_t message;
    WParam wParam;
    LParam lParam;
    std::uint64_t serial;
};

struct State {
    DialogPhase phase = DialogPhase::None;
    CDialog* dialog = nullptr;
    bool endRequested = false;
    std::intptr_t result = 0;
    std::map<int, Control> controls;
    bool visible = false;
    bool minimised = false;
    std::u16string caption;
    std::vector<std::u16string> captions;
    std::vector<ShowWindowCall> showCalls;
    int foreground = 0;
    IconHandle iconBig = kNoIcon;
    IconHandle iconSmall = kNoIcon;
    std::map<std::uintptr_t, std::uint32_t> timers;
    std::deque<Posted> queue;
    std::uint64_t nextSerial = 1;
    std::uint64_t handled = 0;  // serial of the last message handled
    std::thread::id modalThread;
    int ownedBoxes = 0;  // message boxes up that the dialog owns: it takes no clicks
};

std::mutex mutex;
std::condition_variable changed;
State state;

using Lock = std::unique_lock<std::mutex>;

bool WaitFor(Lock& lock, int timeoutMs, auto predicate) {
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), predicate);
}

bool WindowAlive() {
    return state.phase == DialogPhase::Initialising || state.phase == DialogPhase::Modal;
}

bool IsDialog(WindowHandle h) {
    return h == kDialogHandle && WindowAlive();
}

// A control window, while its dialog exists.
Control* FindControl(WindowHandle window) {
    if (!WindowAlive()) return nullptr;
    const auto h = static_cast<std::uintptr_t>(window);
    if (h < kControlHandleBase || h >= kControlHandleBase + 0x10000u) return nullptr;
    auto it = state.controls.find(static_cast<int>(h - kControlHandleBase));
    return it == state.controls.end() ? nullptr : &it->second;
}

Control* FindControlById(int id) {
    auto it = state.controls.find(id);
    return it == state.controls.end() ? nullptr : &it->second;
}

int ControlIdOf(WindowHandle h) {
    return static_cast<int>(static_cast<std::uintptr_t>(h) - kControlHandleBase);
}

// The letter case a combo box ignores: ASCII and Latin-1 letters.
char16_t Fold(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    return c;
}

int CompareFolded(const std::u16string& a, const std::u16string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = Fold(a[i]);
        const char16_t y = Fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool StartsWithFolded(const std::u16string& text, const std::u16string& prefix) {
    if (prefix.size() > text.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Fold(text[i]) != Fold(prefix[i])) return false;
    return true;
}

LResult ComboMessage(Control& c, std::uint32_t message, WParam wParam, LParam lParam) {
    const auto count = static_cast<LResult>(c.items.size());
    const auto index = static_cast<LResult>(static_cast<std::intptr_t>(wParam));
    switch (message) {
        case kCbAddString: {
            std::u16string text(reinterpret_cast<const char16_t*>(lParam));
            auto at = c.items.end();
            if (c.sorted) {
                at = std::find_if(c.items.begin(), c.items.end(), [&](const std::u16string& item) {
                    return CompareFolded(item, text) > 0;
                });
            }
            at = c.items.insert(at, std::move(text));
            return at - c.items.begin();
        }
        case kCbInsertString: {
            // Inserted where asked even in a sorted combo: no sorting here.
            if (index > count) return kCbErr;
            const LResult at = index < 0 ? count : index;
            c.items.insert(c.items.begin() + at, reinterpret_cast<const char16_t*>(lParam));
            if (c.selection >= at) ++c.selection;
            return at;
        }
        case kCbFindString: {
            if (count == 0) return kCbErr;
            const std::u16string prefix(reinterpret_cast<const char16_t*>(lParam));
            // From the item after `start` to the end, then from the top round to it.
            const LResult start = (index < 0 || index >= count) ? -1 : index;
            for (LResult step = 1; step <= count; ++step) {
                const LResult i = (start + step) % count;
                if (StartsWithFolded(c.items[static_cast<std::size_t>(i)], prefix)) return i;
            }
            return kCbErr;
        }
        case kCbSetCurSel:
            if (index < 0 || index >= count) {
                c.selection = -1;
                return kCbErr;
            }
            c.selection = static_cast<int>(index);
            return index;
        case kCbGetCurSel:
            return c.selection;
        case kCbGetCount:
            return count;
        case kCbGetLbTextLen:
            if (index < 0 || index >= count) return kCbErr;
            return static_cast<LResult>(c.items[static_cast<std::size_t>(index)].size());
        case kCbGetLbText: {
            if (index < 0 || index >= count) return kCbErr;
            const std::u16string& item = c.items[static_cast<std::size_t>(index)];
            auto* buffer = reinterpret_cast<char16_t*>(lParam);
            std::copy(item.begin(), item.end(), buffer);
            buffer[item.size()] = 0;
            return static_cast<LResult>(item.size());
        }
        default:
            return 0;
    }
}

void BuildWindow(const DialogTemplate& t) {
    state.controls.clear();
    for (int i = 0; i < t.controlCount; ++i) {
        const DialogControl& d = t.controls[i];
        Control c;
        c.controlClass = d.controlClass;
        c.sorted = d.controlClass == ControlClass::ComboBox && (d.style & kCbsSort) != 0;
        c.visible = (d.style & kWsVisible) != 0;
        if (d.text != nullptr) c.text = d.text;
        state.controls[d.id] = std::move(c);
    }
    state.caption = t.caption;
    state.captions.assign(1, state.caption);
    state.visible = (t.style & kWsVisible) != 0;
}

// Every action is queued behind the messages before it, like user input.
bool Post(Lock&, std::uint32_t message, WParam wParam, LParam lParam, std::uint64_t* serial) {
    if (state.phase != DialogPhase::Modal || state.endRequested) return false;
    *serial = state.nextSerial++;
    state.queue.push_back({message, wParam, lParam, *serial});
    changed.notify_all();
    return true;
}

bool PostAndWait(std::uint32_t message, WParam wParam, LParam lParam, int timeoutMs) {
    Lock lock(mutex);
    std::uint64_t serial = 0;
    if (!Post(lock, message, wParam, lParam, &serial)) return false;
    return WaitFor(lock, timeoutMs,
                   [&] { return state.handled >= serial || state.phase == DialogPhase::Ended; });
}

bool CommandFromUser(int id, int timeoutMs, bool needControl) {
    {
        Lock lock(mutex);
        if (!state.visible || state.minimised || state.ownedBoxes > 0) return false;
        if (needControl) {
            const Control* c = FindControlById(id);
            if (c == nullptr || !c->visible) return false;
        }
    }
    const auto wParam = static_cast<WParam>(static_cast<std::uint32_t>(id) & 0xFFFFu) |
                        (static_cast<WParam>(kBnClicked) << 16);
    return PostAndWait(kWmCommand, wParam, 0, timeoutMs);
}

// Takes the oldest queued message and hands it to the dialog's window
// procedure, without the lock held meanwhile.
void DispatchOne(Lock& lock, CDialog& dialog) {
    const Posted m = state.queue.front();
    state.queue.pop_front();
    // A killed timer's tick that was already queued is dropped, as the
    // platform removes it from the queue.
    const bool deliver = m.message != kWmTimer || state.timers.count(m.wParam) != 0;
    lock.unlock();
    if (deliver) dialog.WindowProc(m.message, m.wParam, m.lParam);
    lock.lock();
    state.handled = m.serial;
    changed.notify_all();
}

// A message box's own loop on the dialog thread: the dialog's messages go on
// being handled (a handler may thus run inside another one) until the box is
// dismissed.
bool RunMessagesUnderBox(WindowHandle owner, bool (*dismissed)(void*), void* context) {
    Lock lock(mutex);
    if (state.phase != DialogPhase::Modal || state.dialog == nullptr ||
        state.modalThread != std::this_thread::get_id())
        return false;
    const bool owned = owner == kDialogHandle;
    if (owned) ++state.ownedBoxes;
    for (;;) {
        lock.unlock();
        const bool done = dismissed(context);
        lock.lock();
        if (done) break;
        changed.wait_for(lock, std::chrono::milliseconds(1), [] { return !state.queue.empty(); });
        if (!state.queue.empty() && state.dialog != nullptr) DispatchOne(lock, *state.dialog);
    }
    if (owned) --state.ownedBoxes;
    return true;
}

}  // namespace

DialogPhase GetDialogPhase() {
    Lock lock(mutex);
    return state.phase;
}

bool WaitForModalLoop(int timeoutMs) {
    Lock lock(mutex);
    WaitFor(lock, timeoutMs,
            [] { return state.phase == DialogPhase::Modal || state.phase == DialogPhase::Ended; });
    return state.phase == DialogPhase::Modal;
}

bool WaitForDialogEnd(int timeoutMs) {
    Lock lock(mutex);
    return WaitFor(lock, timeoutMs, [] { return state.phase == DialogPhase::Ended; });
}

std::intptr_t DialogResult() {
    Lock lock(mutex);
    return state.result;
}

bool PostDialogMessage(std::uint32_t message, WParam wParam, LParam lParam) {
    Lock lock(mutex);
    std::uint64_t serial = 0;
    return Post(lock, message, wParam, lParam, &serial);
}

bool SendDialogMessage(std::uint32_t message, WParam wParam, LParam lParam, int timeoutMs) {
    return PostAndWait(message, wParam, lParam, timeoutMs);
}

bool WaitForIdle(int timeoutMs) {
    Lock lock(mutex);
    const std::uint64_t last = state.nextSerial - 1;
    return WaitFor(lock, timeoutMs,
                   [&] { return state.handled >= last || state.phase == DialogPhase::Ended; });
}

bool FireTimer(std::uintptr_t timerId, int timeoutMs) {
    {
        Lock lock(mutex);
        if (state.timers.count(timerId) == 0) return false;
    }
    return PostAndWait(kWmTimer, timerId, 0, timeoutMs);
}

bool ClickButton(int controlId, int timeoutMs) {
    return CommandFromUser(controlId, timeoutMs, true);
}
bool PressEnter(int timeoutMs) {
    return CommandFromUser(kIdOk, timeoutMs, false);
}
bool PressEscape(int timeoutMs) {
    return CommandFromUser(kIdCancel, timeoutMs, false);
}

bool PickComboItem(int controlId, int index) {
    Lock lock(mutex);
    Control* c = FindControlById(controlId);
    if (c == nullptr || !c->visible || !state.visible || state.minimised) return false;
    if (index < 0 || index >= static_cast<int>(c->items.size())) return false;
    c->selection = index;
    return true;
}

WindowHandle DialogWindow() {
    Lock lock(mutex);
    return WindowAlive() ? kDialogHandle : kNoWindow;
}

bool DialogExists() {
    return DialogWindow() != kNoWindow;
}

bool DialogShown() {
    Lock lock(mutex);
    return WindowAlive() && state.visible && !state.minimised;
}

std::u16string Caption() {
    Lock lock(mutex);
    return state.caption;
}

std::vector<std::u16string> CaptionHistory() {
    Lock lock(mutex);
    return state.captions;
}

std::vector<ShowWindowCall> ShowWindowCalls() {
    Lock lock(mutex);
    return state.showCalls;
}

int ForegroundRequests() {
    Lock lock(mutex);
    return state.foreground;
}

IconHandle WindowIcon(WParam which) {
    Lock lock(mutex);
    return which == kIconBig ? state.iconBig : state.iconSmall;
}

std::vector<std::uintptr_t> ArmedTimers() {
    Lock lock(mutex);
    std::vector<std::uintptr_t> ids;
    for (const auto& [id, elapse] : state.timers) ids.push_back(id);
    return ids;
}

bool TimerArmed(std::uintptr_t timerId) {
    Lock lock(mutex);
    return state.timers.count(timerId) != 0;
}

bool ControlExists(int controlId) {
    Lock lock(mutex);
    return FindControlById(controlId) != nullptr;
}

bool ControlVisible(int controlId) {
    Lock lock(mutex);
    const Control* c = FindControlById(controlId);
    return c != nullptr && c->visible;
}

std::u16string ControlText(int controlId) {
    Lock lock(mutex);
    const Control* c = FindControlById(controlId);
    return c != nullptr ? c->text : std::u16string();
}

WParam ControlCheck(int controlId) {
    Lock lock(mutex);
    const Control* c = FindControlById(controlId);
    return c != nullptr ? c->check : kBstUnchecked;
}

std::vector<std::u16string> ComboItems(int controlId) {
    Lock lock(mutex);
    const Control* c = FindControlById(controlId);
    return c != nullptr ? c->items : std::vector<std::u16string>();
}

int ComboSelection(int controlId) {
    Lock lock(mutex);
    const Control* c = FindControlById(controlId);
    return c != nullptr ? c->selection : -1;
}

std::u16string ComboSelectedText(int controlId) {
    Lock lock(mutex);
    const Control* c = FindControlById(controlId);
    if (c == nullptr || c->selection < 0) return {};
    return c->items[static_cast<std::size_t>(c->selection)];
}

void ResetFramework() {
    Lock lock(mutex);
    state = State{};
    changed.notify_all();
}

}  // namespace sim

// ---------------------------------------------------------------------------
// The backend half of platform/framework.h.

using namespace sim;

bool CWnd::ShowWindow(int command) {
    Lock lock(mutex);
    if (IsDialog(m_hWnd)) {
        const bool was = state.visible;
        state.showCalls.push_back({0, command});
        // A minimised window is still visible; it is just not on screen.
        if (command == kSwHide) {
            state.visible = false;
        } else {
            state.visible = true;
            state.minimised = command == kSwMinimize;
        }
        changed.notify_all();
        return was;
    }
    if (Control* c = FindControl(m_hWnd)) {
        const bool was = c->visible;
        state.showCalls.push_back({ControlIdOf(m_hWnd), command});
        c->visible = command != kSwHide;
        changed.notify_all();
        return was;
    }
    return false;
}

bool CWnd::SetWindowTextW(const char16_t* text) {
    Lock lock(mutex);
    if (IsDialog(m_hWnd)) {
        state.caption = text;
        state.captions.push_back(state.caption);
        changed.notify_all();
        return true;
    }
    if (Control* c = FindControl(m_hWnd)) {
        c->text = text;
        changed.notify_all();
        return true;
    }
    return false;
}

LResult CWnd::SendMessageW(std::uint32_t message, WParam wParam, LParam lParam) {
    Lock lock(mutex);
    if (IsDialog(m_hWnd)) {
        if (message == kWmSetIcon) {
            IconHandle& slot = wParam == kIconBig ? state.iconBig : state.iconSmall;
            const IconHandle previous = slot;
            slot = IconHandle{static_cast<std::uintptr_t>(lParam)};
            return static_cast<LResult>(previous);
        }
        // Anything else sent to the dialog goes through its window procedure,
        // on this thread, as a sent message does.
        CDialog* dialog = state.dialog;
        lock.unlock();
        return dialog != nullptr ? dialog->WindowProc(message, wParam, lParam) : 0;
    }
    Control* c = FindControl(m_hWnd);
    if (c == nullptr) return 0;
    LResult result = 0;
    if (c->controlClass == ControlClass::ComboBox) {
        result = ComboMessage(*c, message, wParam, lParam);
    } else if (message == kBmSetCheck) {
        c->check = wParam;
    } else if (message == kBmGetCheck) {
        result = static_cast<LResult>(c->check);
    }
    changed.notify_all();
    return result;
}

bool CWnd::SetForegroundWindow() {
    Lock lock(mutex);
    if (!IsDialog(m_hWnd)) return false;
    ++state.foreground;
    return true;
}

std::uintptr_t CWnd::SetTimer(std::uintptr_t id, std::uint32_t elapse) {
    Lock lock(mutex);
    if (!IsDialog(m_hWnd)) return 0;
    state.timers[id] = elapse;
    changed.notify_all();
    return id;
}

bool CWnd::KillTimer(std::uintptr_t id) {
    Lock lock(mutex);
    if (!IsDialog(m_hWnd)) return false;
    return state.timers.erase(id) != 0;
}

WindowHandle CWnd::GetDlgItem(int id) const {
    Lock lock(mutex);
    if (!IsDialog(m_hWnd) || FindControlById(id) == nullptr) return kNoWindow;
    return WindowHandle{kControlHandleBase + static_cast<std::uintptr_t>(id)};
}

LResult CWnd::DefWindowProcW(std::uint32_t, WParam, LParam) {
    return 0;
}

std::intptr_t CDialog::DoModal() {
    {
        Lock lock(mutex);
        // One dialog at a time: its history starts afresh.
        state = State{};
        BuildWindow(m_template);
        state.phase = DialogPhase::Initialising;
        state.dialog = this;
        m_hWnd = kDialogHandle;
        changed.notify_all();
    }

    OnInitDialog();

    detail::SetNestedMessageLoop(RunMessagesUnderBox);
    Lock lock(mutex);
    state.modalThread = std::this_thread::get_id();
    if (!state.endRequested) {
        state.phase = DialogPhase::Modal;
        changed.notify_all();
        while (!state.endRequested) {
            changed.wait(lock, [] { return !state.queue.empty() || state.endRequested; });
            if (state.endRequested) break;
            DispatchOne(lock, *this);
        }
    }
    lock.unlock();

    WindowProc(kWmDestroy, 0, 0);

    lock.lock();
    state.timers.clear();
    state.queue.clear();
    state.phase = DialogPhase::Ended;
    state.dialog = nullptr;
    m_hWnd = kNoWindow;
    const std::intptr_t result = state.result;
    changed.notify_all();
    return result;
}

void CDialog::EndDialog(std::intptr_t result) {
    Lock lock(mutex);
    if (!IsDialog(m_hWnd) || state.endRequested) return;
    state.endRequested = true;
    state.result = result;
    changed.notify_all();
}

int CWinApp::Run() {
    return 0;
}

}  // namespace platform
