// "Active keyboard layout" end to end on X: the program's reception thread
// reads scans from a pty and types them through the layout calls and XTest
// into an X client that composes dead keys as toolkits do, on each layout set
// with setxkbmap while it runs; and Caps Lock on, for a table and for the
// layout. Starts its own Xvfb on a free display from :90 to :99; exits 77
// (skipped) when Xvfb or setxkbmap is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "keymap/active_layout.h"
#include "keymap/key_table.h"
#include "keystroke_lists.h"
#include "platform/linux/keyboard.h"
#include "platform/linux/serial/port_names.h"
#include "platform/text.h"
#include "serial/reception.h"
#include "serial/serial_port.h"
#include "settings/general_settings.h"
#include "tests/support/x_display.h"
#include "x_key_reader.h"

namespace {

std::string testDisplay;

bool SetLayout(const std::string& layout) {
    return quorvel_test::SetXLayout(testDisplay, layout);
}

std::string Utf8(const std::u32string& text) {
    std::string out;
    for (char32_t c : text) out += c == U'\r' ? std::string("\\r") : keystroke_lists::Utf8(c);
    return out;
}

// The program's side: the reception thread on COM1, which leads to a pty.
std::atomic<std::int32_t> running{1};
std::atomic<std::int32_t> lineWait{1};
std::atomic<bool> portReady{false};
void ReportPort(bool ready) {
    portReady.store(ready);
}

class ActiveLayoutOnX : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
        termios raw{};
        tcgetattr(slave_, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave_, TCSANOW, &raw);
        char folder[] = "/tmp/quorvel-active-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        std::filesystem::create_directory(folder_ + "/ports");
        std::filesystem::create_symlink(ttyname(slave_), folder_ + "/ports/com1");
        platform::linux_backend::SetPortsFolder(folder_);

        SerialSettings.port = 1;
        SerialSettings.baudRate = 9600;
        SerialSettings.dataBits = 8;
        SerialSettings.strokeDelay = 1;  // as the shipped settings file has it
        UseActiveLayout();
        ConnectReception({&running, &lineWait, ReportPort, nullptr});
        StartReception();
    }

    // The settings and the table are the dialog thread's to change, and only
    // while no reception thread runs: as Stop, then Start.
    static void StartReception() {
        running.store(1);
        thread_ = platform::CreateThread(ReceptionThreadProc, nullptr, nullptr);
        for (int i = 0; i < 1000 && !portReady.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(portReady.load());
    }
    static void StopReception() {
        running.store(0);
        CloseSerialPort();
        AwaitReceptionThreadEnd(thread_);
        thread_ = platform::kNoThread;
        portReady.store(false);
    }

    static void TearDownTestSuite() {
        QuitReception(thread_);
        platform::CloseKeyboardOutput();
        close(master_);
        close(slave_);
        std::filesystem::remove_all(folder_);
    }

    static void UseActiveLayout() {
        platform::StrCopy(SerialSettings.keyTableName, kSectionNameCapacity, kActiveLayoutName);
    }

    static void Scan(const std::string& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // What the client received once `count` characters have come, or after
    // a minute without them.
    static std::u32string Received(XKeyReader& reader, std::size_t count) {
        std::u32string typed;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (typed.size() < count && std::chrono::steady_clock::now() < deadline)
            typed += reader.Read(1);
        return typed + reader.Read(0);
    }

    // Waits for what the end of a line does after its last character (the
    // releases, Caps Lock back on); false after ten seconds.
    static bool Eventually(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    static int master_, slave_;
    static std::string folder_;
    static platform::ThreadHandle thread_;
};

int ActiveLayoutOnX::master_ = -1;
int ActiveLayoutOnX::slave_ = -1;
std::string ActiveLayoutOnX::folder_;
platform::ThreadHandle ActiveLayoutOnX::thread_ = platform::kNoThread;

// Every printable Windows-1252 character, in lines, arrives on each layout:
// by its key, by a dead key and a key, or (what the layout lacks) through a
// spare key code; the program follows each setxkbmap while it runs, nothing
// stays down, and the spare codes are empty again once the output closes.
TEST_F(ActiveLayoutOnX, EveryCharacterArrivesOnEveryLayout) {
    const char* layouts[] = {"us", "gb", "fr", "de", "es", "it",
                             "ch", "se", "pt", "br", "pl", "us(dvorak)"};
    std::string bytes;
    std::u32string expected;
    int printable = 0;
    for (int b = 0x20; b < 0x100; ++b) {
        const char16_t c = Windows1252Character(static_cast<std::uint8_t>(b));
        if (c == 0) continue;
        bytes += static_cast<char>(b);
        expected += c;
        if (++printable % 40 == 0 || b == 0xFF) {
            bytes += '\r';
            expected += U'\r';
        }
    }
    std::printf("layout      sent  direct  dead key  itself  missing\n");
    std::vector<int> emptyBefore;
    for (const char* layout : layouts) {
        SCOPED_TRACE(layout);
        ASSERT_TRUE(SetLayout(layout));
        XKeyReader reader(testDisplay, true);
        ASSERT_TRUE(reader.ok());
        emptyBefore = reader.EmptyKeyCodes();
        const platform::KeyboardLayout before = ActiveKeyboardLayout();
        Scan(bytes);
        const std::u32string typed = Received(reader, expected.size());
        EXPECT_TRUE(Eventually([&] { return !reader.AnyKeyDown(); })) << "keys left down";
        // Our own bindings of spare codes are no change of layout.
        EXPECT_EQ(ActiveKeyboardLayout(), before);

        int counts[4] = {};
        for (int b = 0x20; b < 0x100; ++b)
            if (Windows1252Character(static_cast<std::uint8_t>(b)) != 0)
                ++counts[static_cast<int>(PlansForLayout(before).plans[b].kind)];
        std::size_t missing = 0;
        for (std::size_t i = 0; i < expected.size(); ++i)
            if (i >= typed.size() || typed[i] != expected[i]) ++missing;
        std::printf("%-10s  %4d  %6d  %8d  %6d  %7zu\n", layout, printable,
                    counts[static_cast<int>(PlanKind::kKey)],
                    counts[static_cast<int>(PlanKind::kDeadKey)],
                    counts[static_cast<int>(PlanKind::kCharacter)], missing);
        EXPECT_EQ(Utf8(typed), Utf8(expected));
    }
    platform::CloseKeyboardOutput();
    EXPECT_EQ(XKeyReader(testDisplay).EmptyKeyCodes(), emptyBefore) << "spare key codes left bound";
}

// Caps Lock on: a line comes out as with it off, for a table and for the
// active layout, and Caps Lock is on again afterwards.
TEST_F(ActiveLayoutOnX, CapsLockChangesNoScanAndStaysOn) {
    ASSERT_TRUE(SetLayout("fr"));
    XKeyReader reader(testDisplay, true);
    ASSERT_TRUE(reader.ok());
    reader.SetCapsLock(true);
    ASSERT_TRUE(reader.CapsLockOn());

    const std::string line = "Caps \xC0\xE9Z-1 \xFF\xC7\r";  // "Caps ÀéZ-1 ÿÇ"
    const std::u32string expected = U"Caps ÀéZ-1 ÿÇ\r";
    Scan(line);
    const std::u32string layoutTyped = Received(reader, expected.size());
    EXPECT_EQ(Utf8(layoutTyped), Utf8(expected));
    EXPECT_TRUE(Eventually([&] { return reader.CapsLockOn(); }));

    // A US table for "Ab1" on the us layout.
    ASSERT_TRUE(SetLayout("us"));
    StopReception();
    platform::StrCopy(SerialSettings.keyTableName, kSectionNameCapacity, u"US test");
    KeyTable['A'] = {1, 0, 'A'};
    KeyTable['b'] = {0, 0, 'B'};
    KeyTable['1'] = {0, 0, '1'};
    KeyTable['\r'] = {0, 0, platform::kVkReturn};
    StartReception();
    Scan("Ab1\r");
    const std::u32string tableTyped = Received(reader, 4);
    StopReception();
    UseActiveLayout();
    StartReception();
    EXPECT_EQ(Utf8(tableTyped), "Ab1\\r");
    EXPECT_TRUE(Eventually([&] { return reader.CapsLockOn(); }));
    std::printf("Caps Lock on, active layout (fr): typed \"%s\", Caps Lock %s afterwards\n",
                Utf8(layoutTyped).c_str(), reader.CapsLockOn() ? "on" : "off");
    std::printf("Caps Lock on, table (us): typed \"%s\", Caps Lock %s afterwards\n",
                Utf8(tableTyped).c_str(), reader.CapsLockOn() ? "on" : "off");
    reader.SetCapsLock(false);
}

// The program's end while a reception thread is still typing a line (it
// outlived the quit's wait): nothing of the line reaches the server after the
// end, no key stays down and no box is shown; a new start types again.
TEST_F(ActiveLayoutOnX, NothingIsTypedAfterTheEnd) {
    ASSERT_TRUE(SetLayout("us"));
    XKeyReader reader(testDisplay, true);
    ASSERT_TRUE(reader.ok());
    StopReception();
    SerialSettings.strokeDelay = 20;
    StartReception();
    Scan(std::string(60, 'q') + "\r");
    ASSERT_FALSE(Received(reader, 3).empty());
    platform::EndKeyboardOutput();
    reader.AnyKeyDown();  // a round trip: what came before the end is here
    reader.Read(0);
    // Well past what the line would take at 20 ms a key event.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const std::u32string after = reader.Read(0);
    EXPECT_EQ(Utf8(after), "") << "typed after the end";
    EXPECT_FALSE(reader.AnyKeyDown());
    StopReception();
    SerialSettings.strokeDelay = 1;
    ASSERT_EQ(platform::OpenKeyboardOutput(), nullptr);
    StartReception();
    Scan("ok\r");
    EXPECT_EQ(Utf8(Received(reader, 3)), "ok\\r");
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything can write a record or look for a compositor.
    const quorvel_test::PrivateRuntimeDir runtime;
    if (runtime.path().empty()) {
        std::puts("no private runtime folder could be made");
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    if (!quorvel_test::InPath("setxkbmap") || !quorvel_test::InPath("Xvfb")) {
        std::puts("Xvfb or setxkbmap is not installed: skipped");
        return 77;
    }
    quorvel_test::XvfbDisplay xvfb;
    if (!xvfb.Start(90, 99)) {
        std::puts("Xvfb did not start");
        return 1;
    }
    testDisplay = xvfb.name();
    // The program's keystrokes go to this display through XTest.
    setenv("DISPLAY", testDisplay.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("XDG_SESSION_TYPE");
    return RUN_ALL_TESTS();
}
