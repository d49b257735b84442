// The Windows backend's replace: while another program holds the settings
// file open, the write gives up after its brief retries, reports the error
// code and leaves the file as it was.
#include "settings_test_support.h"

#include <windows.h>

using namespace settings_test;

using SettingsWin32 = SettingsFileTest;

TEST_F(SettingsWin32, ReplaceRefusedWhileTheFileIsHeldOpen) {
    const std::string original = "[GENERAL]\r\nCOM = 2\r\n";
    Put(original);
    HANDLE holder = ::CreateFileW(reinterpret_cast<const wchar_t*>(file_.c_str()), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    static std::string reported;
    reported.clear();
    SetSettingsErrorReporter([](const char16_t* text) { reported = Narrow(text); });
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), kWriteFailed);
    ::CloseHandle(holder);
    SetSettingsErrorReporter([](const char16_t*) {});
    EXPECT_TRUE(reported == "5" || reported == "32") << reported;
    EXPECT_EQ(Contents(), original);
    // Once it is let go, the next write goes through.
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 0);
    EXPECT_EQ(Contents(), "[GENERAL]\r\nCOM = 3\r\n");
}
