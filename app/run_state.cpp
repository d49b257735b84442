// The run state shared by the dialog thread and the reception thread, and the
// one tray icon whose tip says whether the scanner's port is open.
#include "app/run_state.h"

#include <iterator>
#include <mutex>

std::atomic<std::int32_t> RunningFlag{1};
std::atomic<std::int32_t> LineWaitFlag{1};
platform::Handle ReadyIcon = platform::kNoHandle;
platform::Handle NotReadyIcon = platform::kNoHandle;
platform::NotifyIconData TrayIconRecord;

namespace {

// Both threads change the record. The lock is held across the shell call as
// well, so the shell sees the updates in the order the record took them and
// always with the icon that belongs to the tip.
std::mutex trayLock;

constexpr std::uint32_t kTrayRecordSize = 152;  // the record with a 64-character tip

void CopyTip(const char16_t* tip) {
    std::size_t i = 0;
    for (; tip != nullptr && tip[i] != 0 && i + 1 < std::size(TrayIconRecord.szTip); ++i)
        TrayIconRecord.szTip[i] = tip[i];
    TrayIconRecord.szTip[i] = 0;
}

}  // namespace

void AddTrayIcon(platform::Handle dialogWindow) {
    std::lock_guard lock(trayLock);
    TrayIconRecord.cbSize = kTrayRecordSize;
    TrayIconRecord.hWnd = dialogWindow;
    TrayIconRecord.uID = kTrayIconId;
    TrayIconRecord.uFlags = platform::NIF_MESSAGE | platform::NIF_ICON | platform::NIF_TIP;
    TrayIconRecord.uCallbackMessage = kTrayNotifyMessage;
    TrayIconRecord.hIcon = NotReadyIcon;
    CopyTip(u"LS3578 Not Ready");
    platform::Shell_NotifyIconW(platform::NIM_ADD, &TrayIconRecord);
}

void SetTrayStatus(const char16_t* tip, platform::Handle icon) {
    std::lock_guard lock(trayLock);
    CopyTip(tip);
    TrayIconRecord.hIcon = icon;
    platform::Shell_NotifyIconW(platform::NIM_MODIFY, &TrayIconRecord);
}

void RemoveTrayIcon() {
    std::lock_guard lock(trayLock);
    platform::Shell_NotifyIconW(platform::NIM_DELETE, &TrayIconRecord);
}
