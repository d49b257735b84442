// Simulated shell: message boxes recorded and answered by tests, a tray that
// records every Shell_NotifyIconW call, and fake icons.
#include "platform/sim/shell.h"

#include <atomic>
#include <chrono>
#include <mutex>

#include "platform/sim/threads.h"

namespace platform {
namespace sim {
namespace {

struct OpenBox {
    std::uint64_t serial;
    ThreadHandle thread;
    bool dismissed;
};

// Guarded by the sim lock, so that a thread inside a box counts as blocked
// for the virtual clock.
bool autoDismiss = true;
std::vector<MessageBoxRecord> shown;
std::vector<OpenBox> open;
std::uint64_t nextSerial = 0;
std::vector<TrayCall> trayCalls;
std::atomic<detail::NestedMessageLoop> nestedLoop{nullptr};

bool BoxDismissed(std::uint64_t serial) {
    for (auto& box : open)
        if (box.serial == serial) return box.dismissed;
    return true;
}

std::unique_lock<std::mutex> Lock() {
    return std::unique_lock(detail::Mutex());
}

}  // namespace

void detail::SetNestedMessageLoop(NestedMessageLoop loop) {
    nestedLoop.store(loop);
}

void SetMessageBoxAutoDismiss(bool on) {
    auto lock = Lock();
    autoDismiss = on;
}

std::vector<MessageBoxRecord> MessageBoxes() {
    auto lock = Lock();
    return shown;
}

std::size_t OpenMessageBoxCount() {
    auto lock = Lock();
    std::size_t n = 0;
    for (auto& box : open) n += box.dismissed ? 0 : 1;
    return n;
}

bool DismissMessageBox() {
    auto lock = Lock();
    for (auto& box : open) {
        if (!box.dismissed) {
            box.dismissed = true;
            detail::Changed().notify_all();
            return true;
        }
    }
    return false;
}

bool WaitForMessageBoxes(std::size_t count, int timeoutMs) {
    auto lock = Lock();
    return detail::Changed().wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                      [&] { return shown.size() >= count; });
}

void ResetShell() {
    auto lock = Lock();
    for (auto& box : open) box.dismissed = true;
    shown.clear();
    autoDismiss = true;
    detail::Changed().notify_all();
}

std::vector<TrayCall> TrayCalls() {
    auto lock = Lock();
    return trayCalls;
}

void ResetTray() {
    auto lock = Lock();
    trayCalls.clear();
}

IconHandle FakeIcon(std::int32_t id) {
    return IconHandle{std::uintptr_t{0x1C0000} + static_cast<std::uintptr_t>(id)};
}

}  // namespace sim

std::int32_t MessageBoxW(WindowHandle owner, const char16_t* text, const char16_t* caption,
                         std::uint32_t) {
    using namespace sim;
    auto lock = Lock();
    ThreadHandle thread = detail::CurrentThread();
    shown.push_back({text, caption ? caption : u"", caption != nullptr, owner, thread});
    detail::Changed().notify_all();
    if (autoDismiss) return kIdOk;
    std::uint64_t serial = nextSerial++;
    open.push_back({serial, thread, false});
    bool ranLoop = false;
    if (const auto loop = nestedLoop.load()) {
        lock.unlock();
        ranLoop = loop(
            owner,
            [](void* context) {
                auto boxLock = Lock();
                return BoxDismissed(*static_cast<std::uint64_t*>(context));
            },
            &serial);
        lock.lock();
    }
    if (!ranLoop) detail::BlockUntil(lock, detail::kNever, [&] { return BoxDismissed(serial); });
    std::erase_if(open, [&](const OpenBox& box) { return box.serial == serial; });
    detail::Changed().notify_all();
    return kIdOk;
}

void DismissMessageBoxes(ThreadHandle thread) {
    auto lock = sim::Lock();
    for (auto& box : sim::open)
        if (box.thread == thread) box.dismissed = true;
    sim::detail::Changed().notify_all();
}

bool Shell_NotifyIconW(std::uint32_t message, const NotifyIconData* data) {
    auto lock = sim::Lock();
    sim::trayCalls.push_back({message, data != nullptr ? *data : NotifyIconData{}});
    return true;
}

std::uint32_t ExtractIconExW(const char16_t*, std::int32_t index, IconHandle* largeIcons,
                             IconHandle* smallIcons, std::uint32_t icons) {
    if (index >= 0 || icons == 0) return 0;
    if (largeIcons != nullptr) *largeIcons = sim::FakeIcon(-index);
    if (smallIcons != nullptr) *smallIcons = sim::FakeIcon(-index);
    return 1;
}

}  // namespace platform
