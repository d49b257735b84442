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
        const char* list;
        const char* layout;
        std::u32string expectedDifferences;
    };
    const Case cases[] = {{"us-english.txt", "us", U""},
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

        std::u32string differences;
        std::string report;
        for (const auto& entry : entries) {
            keystroke_lists::TypeAsLine(entry,
                                        [&](std::uint8_t vk, bool d) { output.KeyEvent(vk, d); });
            output.Sync();
            const std::u32string typed = reader.Read(1);
            if (typed != std::u32string(1, entry.character)) {
                differences += entry.character;
                report += keystroke_lists::Utf8(entry.character) + " -> ";
                for (char32_t t : typed) report += keystroke_lists::Utf8(t);
                report += "  ";
            }
            EXPECT_FALSE(reader.AnyKeyDown())
                << "keys left down after " << keystroke_lists::Utf8(entry.character);
        }
        std::printf("%s on %s: %zu characters, %zu differ %s\n", c.list, c.layout, entries.size(),
                    differences.size(), report.c_str());
        EXPECT_EQ(differences, c.expectedDifferences) << report;
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
    setenv("DISPLAY", testDisplay.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("XDG_SESSION_TYPE");
    KeyOutput output;
    EXPECT_EQ(output.Open(), nullptr);
    EXPECT_EQ(output.kind(), KeyOutput::Kind::kXTest);

    setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    std::string message = text(output.Open());
    if (uinput) {
        EXPECT_EQ(output.kind(), KeyOutput::Kind::kUinput);
    } else {
        EXPECT_EQ(output.kind(), KeyOutput::Kind::kNone);
        EXPECT_NE(message.find("Wayland session"), std::string::npos) << message;
        EXPECT_NE(message.find("/dev/uinput"), std::string::npos) << message;
        output.KeyEvent('A', true);  // nothing open: ignored
    }

    unsetenv("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    message = text(output.Open());
    if (!uinput) {
        EXPECT_NE(message.find("no X display"), std::string::npos) << message;
        EXPECT_NE(message.find("/dev/uinput"), std::string::npos) << message;
    }
    std::printf("without a display: %s\n", message.empty() ? "uinput" : message.c_str());
    output.Close();
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
