// XTest keystrokes into a real X client under Xvfb: every character of each
// shipped layout list on its X layout, with the layout changed by setxkbmap
// while the output stays open. Starts its own Xvfb, or uses the display in
// QUORVEL_TEST_DISPLAY; exits 77 (skipped) when Xvfb or setxkbmap is missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "keystroke_lists.h"
#include "platform/linux/key_output.h"
#include "x_key_reader.h"

extern char** environ;

using platform::linuxkeys::KeyOutput;

namespace {

std::string testDisplay;

int Run(const std::vector<std::string>& args, pid_t* started = nullptr) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    if (started != nullptr) {
        *started = pid;
        return 0;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool InPath(const char* program) {
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

bool SetLayout(const char* layout) {
    return Run({"setxkbmap", "-display", testDisplay, layout}) == 0;
}

// Every character of the four shipped lists arrives as listed; the output is
// opened once, on us, and follows each setxkbmap that comes after (us, then
// de with its swapped Y and Z, fr, gb). Nothing stays down after any line.
TEST(XTestKeystrokes, EveryListedCharacterArrivesAsLayoutsChange) {
    struct Case {
        const char *list, *layout;
        std::u32string expectedDifferences;
    } const cases[] = {{"us-english.txt", "us", U""},
                       {"german-qwertz.txt", "de", U""},
                       {"french-azerty.txt", "fr", U""},
                       {"uk-english.txt", "gb", U"¦áéíóú"}};
    ASSERT_TRUE(SetLayout("us"));
    KeyOutput output;
    ASSERT_EQ(output.OpenX(testDisplay.c_str()), nullptr);
    ASSERT_EQ(output.kind(), KeyOutput::Kind::kXTest);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.layout);
        ASSERT_TRUE(SetLayout(c.layout));
        const auto entries = keystroke_lists::Read(c.list);
        const auto hints = keystroke_lists::HintsOf(entries);
        output.SetHints(hints.data(), hints.size());
        XKeyReader reader(testDisplay);
        ASSERT_TRUE(reader.ok());

        auto arrived = [&] {
            output.Sync();
            std::u32string typed = reader.Read(1);
            EXPECT_FALSE(reader.AnyKeyDown()) << "keys left down";
            return typed;
        };
        auto result = keystroke_lists::TypeEach(
            entries, [&](std::uint8_t vk, bool d) { output.KeyEvent(vk, d); }, arrived);
        std::printf("%s on %s: %zu characters, %zu differ %s\n", c.list, c.layout, entries.size(),
                    result.differences.size(), result.report.c_str());
        EXPECT_EQ(result.differences, c.expectedDifferences) << result.report;
    }
    output.Close();
}

// The output follows the session: XTest on an X11 session; under Wayland, or
// with no display, uinput or a message naming both what is missing.
TEST(XTestKeystrokes, OutputFollowsTheSession) {
    const bool uinput = access("/dev/uinput", W_OK) == 0;
    auto text = [](const char16_t* message) {
        std::string out;
        for (; message != nullptr && *message != 0; ++message) out += static_cast<char>(*message);
        return out;
    };
    KeyOutput output;
    setenv("DISPLAY", testDisplay.c_str(), 1);
    unsetenv("XDG_SESSION_TYPE");
    unsetenv("WAYLAND_DISPLAY");
    EXPECT_EQ(output.Open(), nullptr);
    EXPECT_EQ(output.kind(), KeyOutput::Kind::kXTest);

    setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    const std::string wayland = text(output.Open());
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    const std::string noDisplay = text(output.Open());
    std::printf("Wayland: %s\nno display: %s\n", wayland.c_str(), noDisplay.c_str());
    if (!uinput) {
        EXPECT_EQ(output.kind(), KeyOutput::Kind::kNone);
        EXPECT_NE(wayland.find("Wayland session, and /dev/uinput"), std::string::npos);
        EXPECT_NE(noDisplay.find("no X display (DISPLAY is not set), and /dev/uinput"),
                  std::string::npos);
    }
}

// Starts Xvfb on the first free display from :73 on; 0 when none started.
pid_t StartXvfb() {
    for (int n = 73; n < 90; ++n) {
        struct stat lock {};
        if (stat(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), &lock) == 0) continue;
        const std::string display = ":" + std::to_string(n);
        pid_t pid = 0;
        if (Run({"Xvfb", display, "-noreset", "-nolisten", "tcp"}, &pid) != 0) return 0;
        for (int i = 0; i < 100; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) break;  // lost the display to another
            if (XKeyReader(display).ok()) {
                testDisplay = display;
                return pid;
            }
        }
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    pid_t xvfb = 0;
    const char* given = std::getenv("QUORVEL_TEST_DISPLAY");
    if (!InPath("setxkbmap")) {
        std::puts("setxkbmap is not installed: skipped");
        return 77;
    }
    if (given != nullptr && given[0] != 0) {
        testDisplay = given;
    } else {
        if (!InPath("Xvfb")) {
            std::puts("Xvfb is not installed: skipped");
            return 77;
        }
        xvfb = StartXvfb();
        if (xvfb == 0) {
            std::puts("Xvfb did not start");
            return 1;
        }
    }
    const int result = RUN_ALL_TESTS();
    if (xvfb != 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
    return result;
}
