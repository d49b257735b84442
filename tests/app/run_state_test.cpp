// The tray icon record: the values it is added with, and tips that always
// travel with their own icon when both threads change the status at once.
#include <thread>

#include "tests/serial/reception_fixture.h"

using namespace platform;
using namespace testing_support;

namespace {

using RunState = ReceptionTest;

TEST_F(RunState, TrayIconIsAddedChangedAndRemovedWithTheWholeRecord) {
    AddTrayIcon(WindowHandle{0x4242});
    SetTrayStatus(u"LS3578 ready", ReadyIcon);
    RemoveTrayIcon();
    auto calls = sim::TrayCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].message, kNimAdd);
    EXPECT_EQ(calls[1].message, kNimModify);
    EXPECT_EQ(calls[2].message, kNimDelete);
    for (const auto& call : calls) {
        EXPECT_EQ(call.data.cbSize, 152u);
        EXPECT_EQ(call.data.hWnd, WindowHandle{0x4242});
        EXPECT_EQ(call.data.uID, 126u);
        EXPECT_EQ(call.data.uFlags, 7u);
        EXPECT_EQ(call.data.uCallbackMessage, 1124u);
    }
    EXPECT_EQ(std::u16string(calls[0].data.szTip), u"LS3578 Not Ready");
    EXPECT_EQ(calls[0].data.hIcon, NotReadyIcon);
    EXPECT_EQ(std::u16string(calls[1].data.szTip), u"LS3578 ready");
    EXPECT_EQ(calls[1].data.hIcon, ReadyIcon);
    EXPECT_NE(ReadyIcon, NotReadyIcon);

    // A tip too long for the record is cut, never run past its end.
    std::u16string longTip(80, u'x');
    SetTrayStatus(longTip.c_str(), NotReadyIcon);
    EXPECT_EQ(std::u16string(sim::TrayCalls().back().data.szTip), std::u16string(63, u'x'));
}

TEST_F(RunState, ConcurrentStatusChangesNeverMixATipWithAnotherIcon) {
    AddTrayIcon(WindowHandle{0x4242});
    auto writer = [](const char16_t* tip, IconHandle icon) {
        for (int i = 0; i < 2000; ++i) SetTrayStatus(tip, icon);
    };
    std::thread reception(writer, u"LS3578 ready", ReadyIcon);
    std::thread dialog(writer, u"LS3578 Not Ready", NotReadyIcon);
    reception.join();
    dialog.join();
    auto calls = sim::TrayCalls();
    ASSERT_EQ(calls.size(), 4001u);
    for (const auto& call : calls) {
        std::u16string tip = call.data.szTip;
        EXPECT_EQ(call.data.hIcon, tip == u"LS3578 ready" ? ReadyIcon : NotReadyIcon) << "tip";
    }
    // The record ends as the shell was last told.
    EXPECT_EQ(std::u16string(TrayIconRecord.szTip), std::u16string(calls.back().data.szTip));
    EXPECT_EQ(TrayIconRecord.hIcon, calls.back().data.hIcon);
}

}  // namespace
