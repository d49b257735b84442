// Simulated shell: message boxes recorded and answered by tests.
#include "platform/sim/shell.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {
namespace sim {
namespace {

struct OpenBox {
    std::uint64_t serial;
    bool dismissed;
};

std::mutex mutex;
std::condition_variable changed;
bool autoDismiss = true;
std::vector<MessageBoxRecord> shown;
std::vector<OpenBox> open;
std::uint64_t nextSerial = 0;

}  // namespace

void SetMessageBoxAutoDismiss(bool on) {
    std::lock_guard lock(mutex);
    autoDismiss = on;
}

std::vector<MessageBoxRecord> MessageBoxes() {
    std::lock_guard lock(mutex);
    return shown;
}

std::size_t OpenMessageBoxCount() {
    std::lock_guard lock(mutex);
    return open.size();
}

bool DismissMessageBox() {
    std::lock_guard lock(mutex);
    for (auto& box : open) {
        if (!box.dismissed) {
            box.dismissed = true;
            changed.notify_all();
            return true;
        }
    }
    return false;
}

bool WaitForMessageBoxes(std::size_t count, int timeoutMs) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return shown.size() >= count; });
}

void ResetShell() {
    std::lock_guard lock(mutex);
    for (auto& box : open) box.dismissed = true;
    shown.clear();
    autoDismiss = true;
    changed.notify_all();
}

}  // namespace sim

std::int32_t MessageBoxW(Handle owner, const char16_t* text, const char16_t* caption,
                         std::uint32_t) {
    using namespace sim;
    std::unique_lock lock(mutex);
    shown.push_back({text, caption ? caption : u"", caption != nullptr, owner});
    changed.notify_all();
    if (autoDismiss) return IDOK;
    std::uint64_t serial = nextSerial++;
    open.push_back({serial, false});
    changed.wait(lock, [&] {
        for (auto& box : open)
            if (box.serial == serial) return box.dismissed;
        return true;
    });
    std::erase_if(open, [&](const OpenBox& box) { return box.serial == serial; });
    changed.notify_all();
    return IDOK;
}

void DismissMessageBoxes(Handle) {
    std::lock_guard lock(sim::mutex);
    for (auto& box : sim::open) box.dismissed = true;
    sim::changed.notify_all();
}

}  // namespace platform
