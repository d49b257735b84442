// The main dialog: start-up, Start/Stop, tray-icon actions, timers and the
// end of the window. Everything here runs on the dialog thread.
#include "app/wedge_dlg.h"

#include "app/load_settings.h"
#include "app/resources/dialog_template.h"
#include "app/run_state.h"
#include "keymap/active_layout.h"
#include "keymap/key_table.h"
#include "platform/reports.h"
#include "platform/services.h"
#include "platform/text.h"
#include "serial/reception.h"
#include "serial/serial_port.h"
#include "settings/general_settings.h"

using namespace platform;
using namespace resources;

std::atomic<ThreadHandle> ReceptionThreadHandle{kNoThread};

namespace {

// Process-wide state of the dialog; the dialog thread alone touches it.
std::int32_t StartedFlag = 0;  // chooses the Start or the Stop path
std::int32_t VisibleFlag = 1;  // whether the dialog is meant to be shown
// Set while a Start or a Stop runs. A message box they show runs the dialog's
// messages meanwhile, and a click or a timer tick handled in there must not
// start or stop again half-way through the first.
bool StartStopRunning = false;
EventHandle InstanceEvent = kNoEvent;

int ItemValue(int comboId, int position) {
    const ComboList* list = FindComboList(kMainDialogTemplate, comboId);
    if (list == nullptr || position < 0 || position >= list->count) return -1;
    return wtoi(list->items[position]);
}

// What went wrong with the settings file, kept until the Start that follows
// has its reception thread running: a box shown before that would hold
// reception back until someone answers it, and a kiosk may have no one. Each
// is shown once per run; the next Start would only say it again.
bool UnusableFileShown = false;
bool SaveFailureShown = false;
bool WritableFileShown = false;
char16_t PendingSaveFailure[kTextCapacity];

void KeepSaveFailure(const char16_t* text) {
    if (PendingSaveFailure[0] == 0) StrCopy(PendingSaveFailure, kTextCapacity, text);
}

// The settings file can hold any chord a keyboard can type ({Win+R}): run as
// administrator, we would type what an unelevated program wrote there. The
// file is still used; the user is told once.
void ShowFileWritableBelowUs() {
    if (WritableFileShown || !FileWritableBelowOurRights(SettingsFilePath)) return;
    WritableFileShown = true;
    constexpr std::size_t kCapacity = 2 * kTextCapacity;
    char16_t text[kCapacity];
    StrCopy(text, kCapacity, u"Fichier de paramètres modifiable sans droits d'administrateur : ");
    StrAppend(text, kCapacity, SettingsFilePath);
    StrAppend(text, kCapacity,
              u"\nQuorvelCE est lancé en administrateur et tape les touches que ce fichier "
              u"décrit : un programme sans ces droits peut lui faire taper ce qu'il veut. "
              u"Réservez l'écriture du fichier et de son dossier aux administrateurs. Le "
              u"fichier est utilisé.");
    MessageBoxW(kNoWindow, text, kErrorCaption, kMbOk);
}

const char16_t* UnusableFileReason(const SettingsFileDiagnosis& file, char16_t* buffer,
                                   std::size_t capacity) {
    switch (file.state) {
        case SettingsFileState::kUnreadable: {
            char16_t number[16];
            FormatDecimal(number, 16, static_cast<std::int32_t>(file.error));
            StrCopy(buffer, capacity, u"Lecture impossible (");
            StrAppend(buffer, capacity, number);
            StrAppend(buffer, capacity, u")");
            return buffer;
        }
        case SettingsFileState::kDirectory:
            return u"C'est un dossier, pas un fichier";
        case SettingsFileState::kNotRegular:
            return u"Ce n'est pas un fichier ordinaire (tube ou périphérique)";
        case SettingsFileState::kTooLarge: {
            char16_t number[16];
            FormatDecimal(number, 16, static_cast<std::int32_t>(kSettingsFileMegabytes));
            StrCopy(buffer, capacity, u"Plus grand que ");
            StrAppend(buffer, capacity, number);
            StrAppend(buffer, capacity, u" Mo");
            return buffer;
        }
        case SettingsFileState::kUtf16:
            return u"Texte UTF-16 (Unicode) : enregistrez-le en UTF-8";
        case SettingsFileState::kNoGeneral:
            return u"Aucune ligne ne contient [GENERAL]";
        case SettingsFileState::kUsable:
        case SettingsFileState::kMissing:
            break;
    }
    return nullptr;
}

// The text of a combo's item; false when there is no such item or it does not fit.
bool ItemText(CComboBox& combo, int index, char16_t (&name)[kTextCapacity]) {
    if (index == kCbErr) return false;
    const int length = combo.GetLBTextLen(index);
    if (length < 0 || length >= kTextCapacity) return false;
    combo.GetLBText(index, name);
    return true;
}

bool IsActiveLayoutItem(CComboBox& combo, int index) {
    char16_t name[kTextCapacity];
    return ItemText(combo, index, name) && IsActiveLayoutName(name);
}

void SelectByText(CComboBox& combo, std::int32_t value) {
    char16_t text[kTextCapacity];
    FormatDecimal(text, kTextCapacity, value);
    combo.SetCurSel(combo.FindString(-1, text));
}

}  // namespace

CWedgeDlg::CWedgeDlg(CWnd* parent) : CDialog(kMainDialogTemplate, parent) {
    // One dialog per program run: this is where its run begins.
    StartedFlag = 0;
    VisibleFlag = 1;

    char16_t path[kTextCapacity] = {};
    GetModuleFileNameW(path, kTextCapacity);
    ExtractIconExW(path, -IDI_READY, nullptr, &m_hIcon, 1);
    ExtractIconExW(path, -IDI_NOT_READY, nullptr, &NotReadyIcon, 1);
    ReadyIcon = m_hIcon;
    ConnectReception(RunStateLinks);
    UnusableFileShown = SaveFailureShown = WritableFileShown = false;
    PendingSaveFailure[0] = 0;
    ForgetUnreachableWindow();
    SetSettingsErrorReporter(KeepSaveFailure);
}

CWedgeDlg::~CWedgeDlg() = default;

void CWedgeDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PORT_LABEL, m_portLabel);
    DDX_Control(pDX, IDC_PORT, m_portCombo);
    DDX_Control(pDX, IDC_DATA_LABEL, m_dataLabel);
    DDX_Control(pDX, IDC_DATA, m_dataCombo);
    DDX_Control(pDX, IDC_STOP_LABEL, m_stopLabel);
    DDX_Control(pDX, IDC_STOP, m_stopCombo);
    DDX_Control(pDX, IDC_BAUDRATE_LABEL, m_baudrateLabel);
    DDX_Control(pDX, IDC_BAUDRATE, m_baudrateCombo);
    DDX_Control(pDX, IDC_PARITY_LABEL, m_parityLabel);
    DDX_Control(pDX, IDC_PARITY, m_parityCombo);
    DDX_Control(pDX, IDC_START_STOP, m_startStopButton);
    DDX_Control(pDX, IDC_KEYBOARD, m_keyboardCombo);
    DDX_Control(pDX, IDC_SERIAL_GROUP, m_serialGroup);
    DDX_Control(pDX, IDC_KEYBOARD_GROUP, m_keyboardGroup);
    DDX_Control(pDX, IDC_ACTIVE, m_activeRadio);
    DDX_Control(pDX, IDC_INACTIVE, m_inactiveRadio);
    DDX_Control(pDX, IDC_LINE_WAIT_GROUP, m_lineWaitGroup);
    DDX_Control(pDX, IDC_OK_BUTTON, m_okButton);
    DDX_Control(pDX, IDC_LOGO, m_logo);
}

const MessageMap* CWedgeDlg::GetMessageMap() const {
    static const MessageMapEntry entries[] = {
        OnBnClicked(IDC_ACTIVE, &CWedgeDlg::OnActive),
        OnBnClicked(IDC_INACTIVE, &CWedgeDlg::OnInactive),
        OnWmDestroy(&CWedgeDlg::OnDestroy),
        OnWmTimer(&CWedgeDlg::OnTimer),
        OnBnClicked(IDC_START_STOP, &CWedgeDlg::OnStartStop),
        {},
    };
    static const MessageMap map = {CDialog::GetMessageMap(), entries};
    return &map;
}

bool CWedgeDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    // Another instance holds the event. Ending here does not cut the start-up
    // short: the rest still runs, the loop is never entered, and the window's
    // destruction takes the tray icon away again. No message: the user just
    // started something that already runs.
    SetLastError(kErrorSuccess);
    InstanceEvent = CreateEventW(false, false, kInstanceEventName);
    if (InstanceEvent == kNoEvent || GetLastError() == kErrorAlreadyExists) {
        EndDialog(0);
    } else {
        // Before anything is typed: Shift or AltGr that a killed run left down
        // would change every key the user types, the scans' included.
        ClaimKeyRecord();
    }

    SendMessageW(kWmSetIcon, kIconBig, static_cast<LParam>(m_hIcon));
    SendMessageW(kWmSetIcon, kIconSmall, static_cast<LParam>(m_hIcon));

    ListAvailablePorts(AvailablePorts, &AvailablePortCount);
    LoadSettings();

    // The active keyboard layout is offered on every system, tables or not; a
    // section of that name would only list it twice.
    for (int i = 0; i < SerialSettings.SettingSectionCount && i < kMaxSettingSections; ++i)
        if (!IsActiveLayoutName(SerialSettings.SettingSectionList[i]))
            m_keyboardCombo.AddString(SerialSettings.SettingSectionList[i]);
    m_keyboardCombo.AddString(kActiveLayoutName);
    // Inserted at their own positions: the Port combo is sorted, and added
    // strings would read "1", "10", "2", ...
    for (int i = 0; i < AvailablePortCount && i < kMaxAvailablePorts; ++i) {
        char16_t text[kTextCapacity];
        FormatDecimal(text, kTextCapacity, AvailablePorts[i]);
        // Where the port leads, on a system that names its devices otherwise;
        // after the number, which the list is searched and read back by.
        AppendPortDescription(AvailablePorts[i], text, kTextCapacity);
        m_portCombo.InsertString(i, text);
    }

    SelectByText(m_dataCombo, SerialSettings.dataBits);
    SelectByText(m_baudrateCombo, static_cast<std::int32_t>(SerialSettings.baudRate));
    SelectByText(m_portCombo, SerialSettings.port);
    m_parityCombo.SetCurSel(SerialSettings.parity);
    m_stopCombo.SetCurSel(SerialSettings.stopBits);
    // A prefix search: a stored name that only begins a listed one selects it.
    // Not the active keyboard layout, though: it reads no table, so a name
    // cut short ("A") must not turn into it and be saved as it; the search
    // goes on to the next listed name.
    int keyboard = m_keyboardCombo.FindString(-1, SerialSettings.keyTableName);
    if (keyboard != kCbErr && !IsActiveLayoutName(SerialSettings.keyTableName) &&
        IsActiveLayoutItem(m_keyboardCombo, keyboard)) {
        keyboard = m_keyboardCombo.FindString(keyboard, SerialSettings.keyTableName);
        if (IsActiveLayoutItem(m_keyboardCombo, keyboard)) keyboard = kCbErr;
    }
    m_keyboardCombo.SetCurSel(keyboard);

    // Line-wait mode is on from program start; the radios are never shown.
    m_activeRadio.SetCheck(kBstChecked);

    ShowSettings(kSwHide);
    m_startStopButton.ShowWindow(kSwHide);

    AddTrayIcon(m_hWnd);
    SetTimer(kAutoStartTimer, 1000);
    return true;
}

void CWedgeDlg::ShowSettings(int command) {
    m_portLabel.ShowWindow(command);
    m_portCombo.ShowWindow(command);
    m_dataLabel.ShowWindow(command);
    m_dataCombo.ShowWindow(command);
    m_stopLabel.ShowWindow(command);
    m_stopCombo.ShowWindow(command);
    m_baudrateLabel.ShowWindow(command);
    m_baudrateCombo.ShowWindow(command);
    m_parityLabel.ShowWindow(command);
    m_parityCombo.ShowWindow(command);
    m_keyboardCombo.ShowWindow(command);
    m_serialGroup.ShowWindow(command);
    m_keyboardGroup.ShowWindow(command);
}

void CWedgeDlg::OnStartStop() {
    if (StartStopRunning) return;
    StartStopRunning = true;
    if (StartedFlag == 0) {
        StartReception();
    } else {
        StopReception();
    }
    StartStopRunning = false;
}

// A combo without a selection leaves its field as loaded, so an unmatched
// keyboard name is saved back unchanged.
void CWedgeDlg::CopyComboChoicesToSettings() {
    int at = m_keyboardCombo.GetCurSel();
    if (char16_t name[kTextCapacity]; ItemText(m_keyboardCombo, at, name))
        StrCopy(SerialSettings.keyTableName, kSectionNameCapacity, name);
    at = m_dataCombo.GetCurSel();
    if (const int bits = ItemValue(IDC_DATA, at); bits > 0)
        SerialSettings.dataBits = static_cast<std::uint16_t>(bits);
    at = m_parityCombo.GetCurSel();
    if (at != kCbErr) SerialSettings.parity = static_cast<std::uint16_t>(at);
    at = m_portCombo.GetCurSel();
    if (at != kCbErr && at < AvailablePortCount)
        SerialSettings.port = static_cast<std::uint16_t>(AvailablePorts[at]);
    at = m_stopCombo.GetCurSel();
    if (at != kCbErr) SerialSettings.stopBits = static_cast<std::uint16_t>(at);
    at = m_baudrateCombo.GetCurSel();
    if (const int rate = ItemValue(IDC_BAUDRATE, at); rate > 0)
        SerialSettings.baudRate = static_cast<std::uint32_t>(rate);
}

void CWedgeDlg::StartReception() {
    // After a Stop the previous thread may still be in the pause after a key,
    // or showing its open-failure box until the user answers it. It reads the
    // settings and the table, and a second thread beside it would open the
    // port again; so nothing below runs until it has ended. Retrying on a
    // timer keeps the dialog answering meanwhile (and a box the thread shows
    // owned by this window is never blocked on).
    const ThreadHandle previous = ReceptionThreadHandle.load();
    if (!ReceptionThreadEnded(previous)) {
        SetTimer(kStartRetryTimer, kStartRetryMs);
        return;
    }
    KillTimer(kStartRetryTimer);
    // It has ended, so this returns at once; it releases the old handle.
    AwaitReceptionThreadEnd(previous);
    ReceptionThreadHandle.store(kNoThread);

    ShowSettings(kSwHide);
    m_logo.ShowWindow(kSwShowNormal);
    StartedFlag = 1;

    CopyComboChoicesToSettings();

    SetWindowTextW(u"QuorvelCE - Reading Keyboard Table...");
    LoadKeyTable();
    SetWindowTextW(u"QuorvelCE - Saving Parameters...");
    SaveSettings();

    RunningFlag.store(1);
    SetWindowTextW(u"QuorvelCE - Starting...");
    std::uint32_t threadId = 0;
    const ThreadHandle thread = CreateThread(ReceptionThreadProc, nullptr, &threadId);
    ReceptionThreadHandle.store(thread);

    if (thread != kNoThread) {
        m_startStopButton.SetWindowTextW(u"Stop");
        SetWindowTextW(u"QuorvelCE - Started");
        ShowSettingsFileProblems();
        Sleep(500);  // leaves "Started" on screen a moment before hiding
        ShowWindow(kSwMinimize);
        ShowWindow(kSwHide);
        VisibleFlag = 0;
        SetTimer(kLineWatchTimer, 1000);
        return;
    }

    // The started and running flags stay set; the window's destruction clears
    // the running flag.
    char16_t text[kTextCapacity];
    char16_t number[16];
    StrCopy(text, kTextCapacity, u"Démarrage du thread impossible  ");
    FormatDecimal(number, 16, static_cast<std::int32_t>(GetLastError()));
    StrAppend(text, kTextCapacity, number);
    MessageBoxW(text, kErrorCaption, kMbOk);
    EndDialog(0);
}

// Runs once reception is under way, so that neither box holds it back.
void CWedgeDlg::ShowSettingsFileProblems() {
    char16_t reasonText[kTextCapacity];
    const char16_t* reason = UnusableFileReason(LoadedSettingsFile, reasonText, kTextCapacity);
    if (reason != nullptr && !UnusableFileShown) {
        UnusableFileShown = true;
        constexpr std::size_t kCapacity = 2 * kTextCapacity + 160;
        char16_t text[kCapacity];
        StrCopy(text, kCapacity, u"Fichier de paramètres inutilisable : ");
        StrAppend(text, kCapacity, SettingsFilePath);
        StrAppend(text, kCapacity, u"\n");
        StrAppend(text, kCapacity, reason);
        StrAppend(text, kCapacity,
                  u".\nLes valeurs par défaut sont utilisées et le fichier n'est pas modifié.");
        MessageBoxW(text, kErrorCaption, kMbOk);
    }
    ShowFileWritableBelowUs();
    if (PendingSaveFailure[0] != 0 && !SaveFailureShown) {
        SaveFailureShown = true;
        platform::MessageBoxW(kNoWindow, PendingSaveFailure, nullptr, kMbOk);
    }
    PendingSaveFailure[0] = 0;
    if (MisreadGeneralKeys[0] != 0) PostReport(ReportKind::kSettingsLine, MisreadGeneralKeys);
    ShowReports();
}

// What the reception thread and the platform met (a window keystrokes
// cannot reach, a character left out, the keyboard output failing, ...),
// said from the dialog thread, like a failed save: reception goes on reading
// and typing while a box waits for someone to answer it.
void CWedgeDlg::ShowReports() {
    char16_t text[kReportCapacity];
    bool noFocus = false;
    while (TakeUnreachableWindowMessage(text, kReportCapacity, &noFocus))
        PostReport(noFocus ? ReportKind::kNoFocusWindow : ReportKind::kUnreachableWindow, text);
    // A tick served inside a box would stack the next box above it.
    static bool showing = false;
    if (showing) return;
    showing = true;
    while (TakeReport(text, kReportCapacity))
        platform::MessageBoxW(kNoWindow, text, kErrorCaption, kMbOk);
    showing = false;
}

void CWedgeDlg::StopReception() {
    SetWindowTextW(u"QuorvelCE - Stopped");
    KillTimer(kLineWatchTimer);
    // Cleared before the close wakes the thread, or it would open the port again.
    RunningFlag.store(0);
    // The dialog is about to take the focus: no key of the line being typed
    // may reach it.
    WaitUntilTypingStopped();
    CloseSerialPort();
    SetTrayStatus(kTipNotReady, NotReadyIcon);
    m_startStopButton.SetWindowTextW(u"Start");
    StartedFlag = 0;
    m_logo.ShowWindow(kSwHide);
    ShowSettings(kSwShowNormal);
}

LResult CWedgeDlg::WindowProc(std::uint32_t message, WParam wParam, LParam lParam) {
    if (message != kTrayNotifyMessage || wParam != kTrayIconId)
        return CDialog::WindowProc(message, wParam, lParam);

    switch (static_cast<std::uint32_t>(lParam) & 0xFFFFu) {
        case kWmLButtonDown:
            if (VisibleFlag == 0) {
                VisibleFlag = 1;
                ShowWindow(kSwShowNormal);
                SetForegroundWindow();
            } else {
                VisibleFlag = 0;
                ShowWindow(kSwMinimize);
                ShowWindow(kSwHide);
            }
            break;
        case kWmRButtonDown:
            QuitFromTray();
            break;
        default:
            break;
    }
    return 1;
}

// No confirmation: a right click on the tray icon ends the program at once.
void CWedgeDlg::QuitFromTray() {
    // The thread is ended in an orderly way, wherever it stands, so that no
    // modifier stays pressed (it also releases the handle); with no thread yet
    // this does nothing and the window's destruction still closes the port.
    const ThreadHandle thread = ReceptionThreadHandle.exchange(kNoThread);
    QuitReception(thread);
    if (thread != kNoThread) StartedFlag = 0;
    EndDialog(0);
}

void CWedgeDlg::OnTimer(std::uintptr_t timerId) {
    switch (timerId) {
        case kLineWatchTimer:
            WatchModemLines();
            ShowReports();
            break;
        case kAutoStartTimer:
            // Killed before the Start it triggers: a box in Start runs
            // messages, and a second tick would run Stop inside it.
            KillTimer(kAutoStartTimer);
            OnStartStop();
            m_startStopButton.ShowWindow(kSwShowNormal);
            break;
        case kStartRetryTimer:
            // Inside a Start or Stop (under its box) the timer keeps ticking
            // and is served once that has returned.
            if (StartStopRunning) break;
            KillTimer(kStartRetryTimer);
            if (StartedFlag == 0) OnStartStop();
            break;
        default:
            break;
    }
    CDialog::OnTimer(timerId);
}

void CWedgeDlg::OnDestroy() {
    CDialog::OnDestroy();
    CloseHandle(InstanceEvent);
    InstanceEvent = kNoEvent;
    RunningFlag.store(0);
    CloseSerialPort();
    // The program ends with the window (a tray quit, a failed start): a reception
    // thread still typing would be cut off by the process exit with Shift or
    // AltGr held down, so it is ended the way a tray quit ends it.
    QuitReception(ReceptionThreadHandle.exchange(kNoThread));
    RemoveTrayIcon();
    // The next run may say all of it again.
    ForgetReports();
}

void CWedgeDlg::OnActive() {
    m_activeRadio.SetCheck(kBstChecked);
    if (LineWaitFlag.load() == 0) {
        m_inactiveRadio.SetCheck(kBstUnchecked);
        LineWaitFlag.store(1);
    }
}

void CWedgeDlg::OnInactive() {
    m_inactiveRadio.SetCheck(kBstChecked);
    if (LineWaitFlag.load() != 0) {
        m_activeRadio.SetCheck(kBstUnchecked);
        LineWaitFlag.store(0);
    }
}

// OK (Enter) hides the dialog into the tray; reception goes on.
void CWedgeDlg::OnOK() {
    VisibleFlag = 0;
    ShowWindow(kSwMinimize);
    ShowWindow(kSwHide);
}

// The desktop caption has a close button where the device had OK, and a user
// closes a tray utility's window expecting it to keep working: closing it
// (or Escape) must not stop every scan from being typed. The program ends
// from the tray's right click and at log-off.
void CWedgeDlg::OnCancel() {
    OnOK();
}
