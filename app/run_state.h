// The words the dialog thread and the reception thread share: the running and
// line-wait flags, the two icons, and the one tray icon with its status.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/services.h"
#include "serial/reception.h"

inline constexpr std::uint32_t kTrayIconId = 126;
inline constexpr std::uint32_t kTrayNotifyMessage = 1124;  // kWmUser + 100

extern std::atomic<std::int32_t> RunningFlag;   // 1 at program start
extern std::atomic<std::int32_t> LineWaitFlag;  // 1 at program start
extern platform::IconHandle ReadyIcon;          // small image of icon 128
extern platform::IconHandle NotReadyIcon;       // small image of icon 130
extern platform::NotifyIconData TrayIconRecord;

// The tray tips: before the first open and after a Stop; while the port is
// open; after the port has closed under a running reception.
inline constexpr char16_t kTipNotReady[] = u"LS3578 Not Ready";
inline constexpr char16_t kTipReady[] = u"LS3578 ready";
inline constexpr char16_t kTipPortClosed[] = u"LS3578 not ready";

void AddTrayIcon(platform::WindowHandle dialogWindow);
// Tip and icon travel together: every kNimModify carries the icon of its tip.
void SetTrayStatus(const char16_t* tip, platform::IconHandle icon);
void RemoveTrayIcon();

// The first line of a run that the reception thread could not type because
// keystrokes cannot reach the focused window, and the first because no window
// had the focus, kept for the dialog thread to say, each once per run, without
// holding reception back (the next line may go to a window they reach). A new
// run (the dialog's construction) forgets them.
void ForgetUnreachableWindow();
// The message for one of them (`noFocus` tells which), the first time it is
// asked after its report:
// true with `text` filled, then false until the other is reported.
bool TakeUnreachableWindowMessage(char16_t* text, std::size_t capacity, bool* noFocus);

// How the reception thread reaches the flags above, the tray and the report
// of a window it cannot reach.
extern const ReceptionLinks RunStateLinks;
