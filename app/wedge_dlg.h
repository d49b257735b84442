// The main dialog: the serial settings in six combo boxes, Start/Stop, the
// caption that reports each start-up stage, and the tray icon's mouse actions.
// It starts reception by itself a second after it opens and then lives in the
// tray; when it ends, the program ends.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/framework.h"

// Timers of the dialog window.
inline constexpr std::uintptr_t kLineWatchTimer = 103;  // modem-line watch, every second
inline constexpr std::uintptr_t kAutoStartTimer = 104;  // one tick, a second after opening
// Start after a Stop retries on this timer until the previous reception thread
// has ended, so the dialog keeps answering meanwhile.
inline constexpr std::uintptr_t kStartRetryTimer = 105;
inline constexpr std::uint32_t kStartRetryMs = 50;

inline constexpr const char16_t kInstanceEventName[] = u"TREVANIX_QUORVEL_EVENT";

// The most recent reception thread (kNoThread before the first Start and after
// a quit). Written by the dialog thread only.
extern std::atomic<platform::ThreadHandle> ReceptionThreadHandle;

class CWedgeDlg : public platform::CDialog {
  public:
    explicit CWedgeDlg(platform::CWnd* parent = nullptr);
    ~CWedgeDlg() override;

  protected:
    void DoDataExchange(platform::CDataExchange* pDX) override;
    platform::LResult WindowProc(std::uint32_t message, platform::WParam wParam,
                                 platform::LParam lParam) override;
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    const platform::MessageMap* GetMessageMap() const override;

    void OnActive();
    void OnInactive();
    void OnDestroy();
    void OnTimer(std::uintptr_t timerId);
    void OnStartStop();

  private:
    void StartReception();
    void StopReception();
    void ShowSettingsFileProblems();
    void ShowReports();
    void QuitFromTray();
    // The 13 settings controls: six combos, their five labels, two group boxes.
    void ShowSettings(int command);
    void CopyComboChoicesToSettings();

    platform::IconHandle m_hIcon = platform::kNoIcon;

    platform::CStatic m_portLabel;
    platform::CComboBox m_portCombo;
    platform::CStatic m_dataLabel;
    platform::CComboBox m_dataCombo;
    platform::CStatic m_stopLabel;
    platform::CComboBox m_stopCombo;
    platform::CStatic m_baudrateLabel;
    platform::CComboBox m_baudrateCombo;
    platform::CStatic m_parityLabel;
    platform::CComboBox m_parityCombo;
    platform::CButton m_startStopButton;
    platform::CComboBox m_keyboardCombo;
    platform::CButton m_serialGroup;
    platform::CButton m_keyboardGroup;
    platform::CButton m_activeRadio;
    platform::CButton m_inactiveRadio;
    platform::CButton m_lineWaitGroup;
    platform::CButton m_okButton;
    platform::CStatic m_logo;
};
