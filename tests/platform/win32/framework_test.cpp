// The Windows dialog framework on real windows under Wine: template 102 built
// in memory with its controls, lists and picture, the message map reached
// through WindowProc, timers on the dialog thread, and the three ways a modal
// dialog ends (from a handler, inside OnInitDialog, by Escape's kIdCancel).
#include "platform/framework.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/resources/dialog_template.h"

namespace {

using namespace platform;

// What a test dialog saw, in order.
struct Seen {
    std::vector<int> comboCounts;
    int ticks = 0;
    int clicks = 0;
    int trayMessages = 0;
    int destroyed = 0;
    bool logoHasImage = false;
    bool buttonBound = false;
    WindowHandle windowAfterDestroy{1};
};

enum class Ending { FromHandler, InsideInit, ByCancel };

class TestDialog : public CDialog {
  public:
    TestDialog(Ending ending, Seen& seen)
        : CDialog(resources::kMainDialogTemplate), ending_(ending), seen_(seen) {}

    bool OnInitDialog() override {
        CDialog::OnInitDialog();
        for (int id : {resources::IDC_DATA, resources::IDC_STOP, resources::IDC_BAUDRATE,
                       resources::IDC_PARITY, resources::IDC_PORT}) {
            CComboBox combo;
            combo.m_hWnd = GetDlgItem(id);
            seen_.comboCounts.push_back(combo.GetCount());
        }
        constexpr std::uint32_t STM_GETIMAGE = 0x0173;
        CStatic logo;
        logo.m_hWnd = GetDlgItem(resources::IDC_LOGO);
        seen_.logoHasImage = logo.SendMessageW(STM_GETIMAGE, 0 /* IMAGE_BITMAP */, 0) != 0;
        seen_.buttonBound = startStop_.GetSafeHwnd() != kNoWindow;
        if (ending_ == Ending::InsideInit) {
            EndDialog(0);
        } else {
            SetTimer(7, 10);
        }
        return true;
    }

    LResult WindowProc(std::uint32_t message, WParam wParam, LParam lParam) override {
        if (message == 1124 && wParam == 126) {
            ++seen_.trayMessages;
            return 1;
        }
        return CDialog::WindowProc(message, wParam, lParam);
    }

  protected:
    void DoDataExchange(CDataExchange* pDX) override {
        CDialog::DoDataExchange(pDX);
        DDX_Control(pDX, resources::IDC_START_STOP, startStop_);
    }

    const MessageMap* GetMessageMap() const override {
        static const MessageMapEntry entries[] = {
            OnBnClicked(resources::IDC_START_STOP, &TestDialog::OnStartStop),
            OnWmTimer(&TestDialog::OnTick),
            OnWmDestroy(&TestDialog::OnGone),
            {},
        };
        static const MessageMap map = {CDialog::GetMessageMap(), entries};
        return &map;
    }

  private:
    void OnStartStop() { ++seen_.clicks; }

    void OnTick(std::uintptr_t id) {
        if (id != 7) return;
        if (++seen_.ticks == 3) {
            // As the shell and a user would: the tray callback, then a click.
            SendMessageW(1124, 126, kWmLButtonDown);
            SendMessageW(kWmCommand, resources::IDC_START_STOP, 0);
            if (ending_ == Ending::ByCancel) {
                SendMessageW(kWmCommand, kIdCancel, 0);
            } else {
                KillTimer(7);
                EndDialog(42);
            }
        }
    }

    void OnGone() {
        ++seen_.destroyed;
        CWnd::OnDestroy();
    }

    Ending ending_;
    Seen& seen_;
    CButton startStop_;
};

TEST(Win32Framework, DialogFromTemplateRunsItsMapUntilEndDialog) {
    Seen seen;
    TestDialog dialog(Ending::FromHandler, seen);
    EXPECT_EQ(dialog.DoModal(), 42);
    // The template's four lists, then the port combo that only the program fills.
    EXPECT_EQ(seen.comboCounts, (std::vector<int>{4, 3, 15, 5, 0}));
    EXPECT_TRUE(seen.buttonBound);
    EXPECT_TRUE(seen.logoHasImage) << "bitmap 136 did not reach the picture control";
    EXPECT_EQ(seen.ticks, 3);
    EXPECT_EQ(seen.trayMessages, 1);
    EXPECT_EQ(seen.clicks, 1);
    EXPECT_EQ(seen.destroyed, 1);
    EXPECT_EQ(dialog.GetSafeHwnd(), kNoWindow);
}

TEST(Win32Framework, EndDialogInsideInitNeverRunsTheLoopButDestroys) {
    Seen seen;
    TestDialog dialog(Ending::InsideInit, seen);
    EXPECT_EQ(dialog.DoModal(), 0);
    EXPECT_EQ(seen.ticks, 0);
    EXPECT_EQ(seen.destroyed, 1);
}

TEST(Win32Resources, IconsLoadByNegativeResourceId) {
    // The dialog loads its two icons from its own executable by resource id.
    char16_t path[260];
    ASSERT_GT(GetModuleFileNameW(path, 260), 0u);
    for (std::int32_t id : {resources::IDI_READY, resources::IDI_NOT_READY}) {
        IconHandle small = kNoIcon;
        EXPECT_EQ(ExtractIconExW(path, -id, nullptr, &small, 1), 1u) << id;
        EXPECT_NE(small, kNoIcon) << id;
    }
    IconHandle none = kNoIcon;
    EXPECT_EQ(ExtractIconExW(path, -999, nullptr, &none, 1), 0u);
}

TEST(Win32Framework, CancelCommandEndsWithIdCancel) {
    Seen seen;
    TestDialog dialog(Ending::ByCancel, seen);
    EXPECT_EQ(dialog.DoModal(), kIdCancel);
    EXPECT_EQ(seen.destroyed, 1);
}

}  // namespace
