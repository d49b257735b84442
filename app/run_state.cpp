// The run state shared by the dialog thread and the reception thread, and the
// one tray icon whose tip says whether the scanner's port is open.
#include "app/run_state.h"

#include <iterator>
#include <mutex>

#include "platform/text.h"

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

// The report goes from the reception thread to the dialog thread: the name
// is written while the state is kWriting, read once it is kKept. A focus on
// no window has a state of its own, so that each cause is said once per run.
enum UnreachableState : std::int32_t { kNothing, kWriting, kKept, kSaid };
std::atomic<std::int32_t> unreachableState{kNothing};
std::atomic<std::int32_t> noFocusState{kNothing};
char16_t unreachableProgram[64];

void KeepUnreachableWindow(const char16_t* program) {
    std::int32_t expected = kNothing;
    if (program == nullptr) {
        noFocusState.compare_exchange_strong(expected, kKept);
        return;
    }
    if (!unreachableState.compare_exchange_strong(expected, kWriting)) return;
    platform::StrCopy(unreachableProgram, std::size(unreachableProgram),
                      program != nullptr ? program : u"");
    unreachableState.store(kKept);
}

}  // namespace

const ReceptionLinks RunStateLinks = {&RunningFlag, &LineWaitFlag, ReportPortStatus,
                                      KeepUnreachableWindow};

void ForgetUnreachableWindow() {
    unreachableState.store(kNothing);
    noFocusState.store(kNothing);
}

bool TakeUnreachableWindowMessage(char16_t* text, std::size_t capacity, bool* noFocus) {
    std::int32_t expected = kKept;
    *noFocus = false;
    if (!unreachableState.compare_exchange_strong(expected, kSaid)) {
        expected = kKept;
        if (!noFocusState.compare_exchange_strong(expected, kSaid)) return false;
        *noFocus = true;
        platform::StrCopy(text, capacity,
                          u"Saisie impossible : aucune fenêtre n'a le focus (bureau sécurisé "
                          u"d'une demande d'élévation, écran de verrouillage, changement de "
                          u"bureau) et Windows ne transmet nos touches à personne.\nLes lectures "
                          u"faites pendant ce temps ne sont pas tapées ; la saisie reprend dès "
                          u"qu'une fenêtre a le focus.");
        return true;
    }
    using platform::StrAppend;
    platform::StrCopy(text, capacity, u"Saisie impossible dans la fenêtre de ");
    StrAppend(text, capacity,
              unreachableProgram[0] != 0 ? unreachableProgram : u"(programme inconnu)");
    StrAppend(text, capacity,
              u" : ce programme a plus de droits que QuorvelCE (lancé en administrateur) et "
              u"Windows ne lui transmet pas nos touches.\nLancez QuorvelCE avec les mêmes "
              u"droits, ou ce programme sans eux. Les lectures faites pendant que cette fenêtre "
              u"est au premier plan ne sont pas tapées.");
    return true;
}

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
