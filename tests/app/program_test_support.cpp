// Set-up and helpers of the whole-program tests.
#include "tests/app/program_test_support.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>

#include "app/run_state.h"
#include "app/wedge_dlg.h"
#include "keymap/key_table.h"
#include "platform/sim/files.h"
#include "platform/sim/framework.h"
#include "platform/sim/keyboard.h"
#include "platform/sim/serial.h"
#include "platform/sim/shell.h"
#include "platform/sim/threads.h"
#include "serial/reception.h"
#include "serial/serial_port.h"
#include "settings/general_settings.h"
#include "tests/serial/sim_reset.h"

using namespace platform;

namespace program_test {

namespace {

const char* const kGeneralLines[] = {
    "STROKE_DELAY = 1", "COM = 1",  "BAUDRATE = 9600", "PARITY = NONE",
    "DATA = 8",         "STOP = 1", "KEYTABLE = US",
};

// Key lines are found by containment, so "13" comes before any line holding
// those digits elsewhere.
const char kUsTable[] = "[US]\r\n13 = 0D\r\n65 = 41,Shift\r\n66 = 42,Shift\r\n";

}  // namespace

std::string GeneralWith(const std::string& key, const std::string& line,
                        const std::string& sections) {
    std::string text = "[GENERAL]\r\n";
    for (const char* general : kGeneralLines) {
        const std::string current = general;
        if (!key.empty() && current.rfind(key + " ", 0) == 0) {
            if (!line.empty()) text += line + "\r\n";
        } else {
            text += current + "\r\n";
        }
    }
    return text + "\r\n" + sections;
}

std::string DefaultSettings() {
    return GeneralWith("", "", kUsTable);
}

bool WaitUntil(const std::function<bool()>& condition) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

void ProgramTest::SetUp() {
    std::random_device entropy;
    for (int attempt = 0; directory_.empty() && attempt < 100; ++attempt) {
        auto candidate = std::filesystem::temp_directory_path() /
                         ("quorvel-app-" + std::to_string(entropy()) + std::to_string(attempt));
        if (std::filesystem::create_directory(candidate)) directory_ = candidate;
    }
    ASSERT_FALSE(directory_.empty());

    ResetReceptionPlatform();
    sim::ResetFiles();
    sim::ResetFramework();
    const std::u16string exe = (directory_ / "QuorvelCE.exe").u16string();
    sim::SetModuleFileName(exe.c_str());
    sim::AttachSerialDevice(1);

    // What a fresh process starts with.
    SerialSettings = {};
    for (KeyTableEntry& entry : KeyTable) entry = {};
    RunningFlag = 1;
    LineWaitFlag = 1;
    ReadyIcon = kNoIcon;
    NotReadyIcon = kNoIcon;
    TrayIconRecord = {};
    ReceptionThreadHandle = kNoThread;

    Put(DefaultSettings());
}

void ProgramTest::TearDown() {
    Close();
    // A thread left running by an ending dialog ends by itself; collect it.
    QuitReception(ReceptionThreadHandle.exchange(kNoThread));
    EXPECT_TRUE(WaitUntil([] { return sim::AliveThreadCount() == 0; }));
    // Every thread and event handle the program took has been given back;
    // only the reception code's one lasting quit event may be left.
    EXPECT_LE(sim::OpenObjectHandleCount(), 1u);
    sim::ResetFiles();
    sim::ResetShell();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

void ProgramTest::Put(const std::string& settings) const {
    std::ofstream out(directory_ / "QuorvelCE.INI", std::ios::binary);
    out << settings;
}

std::string ProgramTest::Contents() const {
    std::ifstream in(directory_ / "QuorvelCE.INI", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void ProgramTest::Launch() {
    sim::ResetFramework();
    program_ = std::thread([this] { exitCode_ = RunApplication(); });
    WaitUntil([] {
        const auto phase = sim::GetDialogPhase();
        return phase == sim::DialogPhase::Modal || phase == sim::DialogPhase::Ended;
    });
}

bool ProgramTest::WaitForExit() {
    if (!sim::WaitForDialogEnd()) return false;
    if (program_.joinable()) program_.join();
    return true;
}

void ProgramTest::Close() {
    if (!program_.joinable()) return;
    // Escape only hides the dialog: the program ends from the tray.
    TrayClick(kWmRButtonDown);
    program_.join();
}

void ProgramTest::AutoStartAndWaitReady() {
    ASSERT_TRUE(sim::FireTimer(kAutoStartTimer));
    ASSERT_TRUE(WaitUntil([this] { return TrayTip() == u"LS3578 ready"; }));
}

bool ProgramTest::TrayClick(std::uint32_t mouseMessage) {
    return sim::SendDialogMessage(kTrayNotifyMessage, kTrayIconId,
                                  static_cast<LParam>(mouseMessage));
}

void ProgramTest::ClickStartAfterStop() {
    ASSERT_TRUE(sim::ClickButton(1018));
    ASSERT_TRUE(WaitUntil([] {
        if (sim::TimerArmed(kStartRetryTimer)) sim::FireTimer(kStartRetryTimer);
        return sim::Caption() == u"QuorvelCE - Started";
    }));
}

bool ProgramTest::TrayIconShown() const {
    bool shown = false;
    for (const auto& call : sim::TrayCalls()) {
        if (call.message == kNimAdd) shown = true;
        if (call.message == kNimDelete) shown = false;
    }
    return shown;
}

std::u16string ProgramTest::TrayTip() const {
    std::u16string tip;
    for (const auto& call : sim::TrayCalls())
        if (call.message != kNimDelete) tip = call.data.szTip;
    return tip;
}

IconHandle ProgramTest::TrayIcon() const {
    IconHandle icon = kNoIcon;
    for (const auto& call : sim::TrayCalls())
        if (call.message != kNimDelete) icon = call.data.hIcon;
    return icon;
}

}  // namespace program_test
