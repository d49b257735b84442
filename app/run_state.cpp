// The run state shared by the dialog thread and the reception thread, and the
// one tray icon whose tip says whether the scanner's port is open.
#include "app/run_state.h"

#include <iterator>
#include <mutex>

std::atomic<std::int32_t> RunningFlag{1};
std::atomic<std::int32_t> LineWaitFlag{1};
platform::IconHandle ReadyIcon = platform::kNoIcon;
platform::IconHandle NotReadyIcon = platform::kNoIcon;
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

void ReportPortStatus(bool ready) {
    if (ready) {
        SetTrayStatus(kTipReady, ReadyIcon);
    } else {
        SetTrayStatus(kTipPortClosed, NotReadyIcon);
    }
}

}  // namespace

const ReceptionLinks RunStateLinks = {&RunningFlag, &LineWaitFlag, ReportPortStatus};

void AddTrayIcon(platform::WindowHandle dialogWindow) {
    std::lock_guard lock(trayLock);
    TrayIconRecord.cbSize = kTrayRecordSize;
    TrayIconRecord.hWnd = dialogWindow;
    TrayIconRecord.uID = kTrayIconId;
    TrayIconRecord.uFlags = platform::kNifMessage | platform::kNifIcon | platform::kNifTip;
    TrayIconRecord.uCallbackMessage = kTrayNotifyMessage;
    TrayIconRecord.hIcon = NotReadyIcon;
    CopyTip(kTipNotReady);
    platform::Shell_NotifyIconW(platform::kNimAdd, &TrayIconRecord);
}

void SetTrayStatus(const char16_t* tip, platform::IconHandle icon) {
    std::lock_guard lock(trayLock);
    CopyTip(tip);
    TrayIconRecord.hIcon = icon;
    platform::Shell_NotifyIconW(platform::kNimModify, &TrayIconRecord);
}

void RemoveTrayIcon() {
    std::lock_guard lock(trayLock);
    platform::Shell_NotifyIconW(platform::kNimDelete, &TrayIconRecord);
}
