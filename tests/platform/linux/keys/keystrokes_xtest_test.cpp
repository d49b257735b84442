// XTest keystrokes into a real X client under Xvfb: every character of each
// shipped layout list on its X layout, with the layout changed by setxkbmap
// while the output stays open. Starts its own Xvfb, or uses the display in
// QUORVEL_TEST_DISPLAY; exits 77 (skipped) when Xvfb or setxkbmap is missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "keystroke_lists.h"
#include "platform/linux/keys/key_output_private.h"
#include "tests/support/x_display.h"
#include "x_key_reader.h"

using platform::linuxkeys::KeyOutput;

namespace {

std::string testDisplay;

bool SetLayout(const char* layout) {
    return quorvel_test::SetXLayout(testDisplay, layout);
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
        EXPECT_NE(wayland.find("Wayland session's compositor cannot be reached, and /dev/uinput"),
                  std::string::npos);
        EXPECT_NE(noDisplay.find("no X display (DISPLAY is not set), and /dev/uinput"),
                  std::string::npos);
    }
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
    quorvel_test::XvfbDisplay xvfb;
    const char* given = std::getenv("QUORVEL_TEST_DISPLAY");
    if (!quorvel_test::InPath("setxkbmap")) {
        std::puts("setxkbmap is not installed: skipped");
        return 77;
    }
    if (given != nullptr && given[0] != 0) {
        testDisplay = given;
    } else {
        if (!quorvel_test::InPath("Xvfb")) {
            std::puts("Xvfb is not installed: skipped");
            return 77;
        }
        if (!xvfb.Start(73, 89)) {
            std::puts("Xvfb did not start");
            return 1;
        }
        testDisplay = xvfb.name();
    }
    return RUN_ALL_TESTS();
}
