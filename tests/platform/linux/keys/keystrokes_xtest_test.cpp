// XTest keystrokes into a real X client under Xvfb: every character of each
// shipped layout list on its X layout, with the layout changed by setxkbmap
// while the output stays open. Starts its own Xvfb, or uses the display in
// QUORVEL_TEST_DISPLAY; exits 77 (skipped) when Xvfb or setxkbmap is missing.
// Also: a crash record another user could have planted changes nothing there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "keystroke_lists.h"
#include "platform/linux/keys/key_output_private.h"
#include "tests/support/x_display.h"
#include "x_key_reader.h"

// After gtest: Xlib defines Bool.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

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
// What a planted record asks for: Return and `a` unbound, Caps Lock pressed.
platform::linuxkeys::KeyRecord::Contents PlantedRecord() {
    platform::linuxkeys::KeyRecord::Contents record{};
    std::memcpy(record.magic, "QVKEYS1", 8);
    std::snprintf(record.display, sizeof record.display, "%s", testDisplay.c_str());
    record.bound[0] = {36, XK_Return, XK_Return};
    record.bound[1] = {38, XK_a, XK_A};
    record.capsLockPresses = 1;
    return record;
}

void Plant(const std::filesystem::path& path, const void* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, data, size), static_cast<ssize_t>(size));
    ::fchmod(fd, 0666);
    ::close(fd);
}

// Return and `a` still bound, Caps Lock off: nothing the record asked was done.
std::string Untouched(Display* display) {
    std::string problems;
    XSync(display, False);
    for (const int code : {36, 38})
        if (XkbKeycodeToKeysym(display, static_cast<::KeyCode>(code), 0, 0) == NoSymbol)
            problems += "code " + std::to_string(code) + " unbound; ";
    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    if ((state.locked_mods & LockMask) != 0) problems += "Caps Lock on; ";
    return problems;
}

// Each place another user (or a stray file) could put a record: a runtime
// folder others may write, a file of another user's, a link, a record cut
// short. None is acted on and none crashes us; and with the /tmp folder
// missing, the first run makes it and keeps its record there.
TEST(XTestKeystrokes, RecordsNotOursChangeNothing) {
    namespace fs = std::filesystem;
    const bool root = ::geteuid() == 0;
    const fs::path fallback = "/tmp/quorvelce-" + std::to_string(::getuid());
    const bool fallbackExisted = fs::exists(fallback);
    char pattern[] = "/tmp/quorvel-record-test-XXXXXX";
    const fs::path scratch = ::mkdtemp(pattern);
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    Display* display = XOpenDisplay(testDisplay.c_str());
    ASSERT_NE(display, nullptr);
    const auto record = PlantedRecord();

    struct Case {
        const char* name;
        bool needsRoot;
        void (*plant)(const fs::path& folder, const platform::linuxkeys::KeyRecord::Contents&);
        mode_t folderMode;
    } const cases[] = {
        {"folder others may write", false,
         [](const fs::path& f, const auto& r) { Plant(f / "quorvelce-keys", &r, sizeof r); },
         01777},
        {"another user's record", true,
         [](const fs::path& f, const auto& r) {
             Plant(f / "quorvelce-keys", &r, sizeof r);
             ASSERT_EQ(::chown((f / "quorvelce-keys").c_str(), 65534, 65534), 0);
         },
         0700},
        {"a link to a record", false,
         [](const fs::path& f, const auto& r) {
             Plant(f / "elsewhere", &r, sizeof r);
             fs::create_symlink(f / "elsewhere", f / "quorvelce-keys");
         },
         0700},
        {"a record cut short", false,
         [](const fs::path& f, const auto& r) { Plant(f / "quorvelce-keys", &r, 100); }, 0700},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && !root) continue;
        const fs::path folder = scratch / c.name;
        fs::create_directory(folder);
        ::chmod(folder.c_str(), c.folderMode);
        c.plant(folder, record);
        ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
        ASSERT_TRUE(SetLayout("us"));
        {
            KeyOutput output;
            ASSERT_EQ(output.OpenX(testDisplay.c_str()), nullptr);
        }
        EXPECT_EQ(Untouched(display), "");
        if (c.folderMode == 0700) {
            struct stat st {};
            ASSERT_EQ(::lstat((folder / "quorvelce-keys").c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                        (st.st_mode & 0777) == 0600)
                << "the record was not replaced by one of ours";
        }
    }

    // Without a runtime folder: the /tmp one, made by the first run.
    ::unsetenv("XDG_RUNTIME_DIR");
    if (!fallbackExisted) {
        std::error_code ignored;
        fs::remove_all(fallback, ignored);
        {
            KeyOutput output;
            ASSERT_EQ(output.OpenX(testDisplay.c_str()), nullptr);
            EXPECT_TRUE(fs::is_regular_file(fallback / "quorvelce-keys"));
        }
        struct stat st {};
        ASSERT_EQ(::lstat(fallback.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        if (root) {
            // Then made by another user first, with a record in it.
            Plant(fallback / "quorvelce-keys", &record, sizeof record);
            ::chmod(fallback.c_str(), 01777);
            ASSERT_EQ(::chown(fallback.c_str(), 65534, 65534), 0);
            ASSERT_TRUE(SetLayout("us"));
            KeyOutput output;
            ASSERT_EQ(output.OpenX(testDisplay.c_str()), nullptr);
            EXPECT_EQ(Untouched(display), "");
        }
        fs::remove_all(fallback, ignored);
    }

    XCloseDisplay(display);
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    if (saved) ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
}

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
