// The words the dialog thread and the reception thread share: the running and
// line-wait flags, the two icons, and the one tray icon with its status.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/services.h"

inline constexpr std::uint32_t kTrayIconId = 126;
inline constexpr std::uint32_t kTrayNotifyMessage = 1124;  // WM_USER + 100

extern std::atomic<std::int32_t> RunningFlag;   // 1 at program start
extern std::atomic<std::int32_t> LineWaitFlag;  // 1 at program start
extern platform::Handle ReadyIcon;              // small image of icon 128
extern platform::Handle NotReadyIcon;           // small image of icon 130
extern platform::NotifyIconData TrayIconRecord;

void AddTrayIcon(platform::Handle dialogWindow);
// Tip and icon travel together: every NIM_MODIFY carries the icon of its tip.
void SetTrayStatus(const char16_t* tip, platform::Handle icon);
void RemoveTrayIcon();
