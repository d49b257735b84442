// The whole program under test: a real settings file in a fresh temporary
// directory beside a simulated executable, the simulated devices, and the
// program itself (application object, main dialog, reception thread) running
// on a thread of its own, driven as a user would through the simulated
// dialog framework and the tray icon.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/framework.h"
#include "platform/services.h"

namespace program_test {

// A settings file with every GENERAL key and one small keyboard table "US"
// that types A, B and Enter.
std::string DefaultSettings();
// The same GENERAL section with one key's line replaced (or dropped when
// `line` is empty), followed by `sections`.
std::string GeneralWith(const std::string& key, const std::string& line,
                        const std::string& sections);

// Polls until `condition` holds; false after 20 s, which only ever means a hang.
bool WaitUntil(const std::function<bool()>& condition);

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    void Put(const std::string& settings) const;
    std::string Contents() const;

    // Starts the program and waits until its dialog answers (or has ended).
    void Launch();
    // Waits for the program to end; false if it did not.
    bool WaitForExit();
    // Ends a program still running (as the tray's right click would) and joins it.
    void Close();

    // The auto-start tick, then the reception thread's "ready" tip.
    void AutoStartAndWaitReady();
    // Tray icon mouse actions.
    bool TrayClick(std::uint32_t mouseMessage);
    // Start after a Stop: the click, then the retry ticks until it has run.
    void ClickStartAfterStop();

    // The tray icon as the shell shows it now.
    bool TrayIconShown() const;
    std::u16string TrayTip() const;
    platform::IconHandle TrayIcon() const;

    std::filesystem::path directory_;
    std::thread program_;
    int exitCode_ = -100;
};

}  // namespace program_test
