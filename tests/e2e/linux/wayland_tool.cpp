// What the Wayland end-to-end tests (wayland.py) run inside a headless sway:
//   keyboard LAYOUT [caps]  a virtual keyboard with LAYOUT's keymap (Caps Lock
//                           locked with "caps") that stands for the user's,
//                           kept until standard input closes; each line "a"
//                           on it presses the key of a, as the user would;
//   keymap [LAYOUT]         prints the compositor's keymap as the keystroke
//                           output reads it: "GROUP n reported|first",
//                           "LAYOUTS name,name", "SAME LAYOUT" when it is the
//                           keymap xkbcommon makes of LAYOUT (else
//                           "DIFFERENT"), and its text after "KEYMAP";
//   type DELAY [FAILS]      the program's reception thread on a pty as COM1
//                           with "Active keyboard layout" and stroke delay
//                           DELAY, typing what comes on standard input, until
//                           it closes; prints "OUTPUT kind" once open; the
//                           FAILS keymap uploads after that fail in
//                           memfd_create, as with no file descriptor left.
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "keymap/active_layout.h"
#include "platform/linux/keyboard.h"
#include "platform/linux/keys/key_output_private.h"
#include "platform/linux/keys/wayland_connection_private.h"
#include "platform/linux/serial/port_names.h"
#include "platform/reports.h"
#include "platform/text.h"
#include "serial/reception.h"
#include "serial/serial_port.h"
#include "settings/general_settings.h"

namespace {
std::atomic<int> memfdFailures{0};
}  // namespace

// Stands in for the C library's for the whole tool, keystroke output included.
extern "C" int memfd_create(const char* name, unsigned int flags) noexcept {
    // Uploads are made under the keyboard's lock, one at a time.
    if (memfdFailures.load() > 0) {
        memfdFailures.fetch_sub(1);
        errno = EMFILE;
        return -1;
    }
    return static_cast<int>(syscall(SYS_memfd_create, name, flags));
}

namespace {

using platform::linuxkeys::WaylandConnection;

// "us(dvorak)" or "us,fr" as XKB rule names.
xkb_keymap* KeymapOf(xkb_context* context, const std::string& layout) {
    std::string names = layout, variant;
    if (const auto open = layout.find('('); open != std::string::npos) {
        names = layout.substr(0, open);
        variant = layout.substr(open + 1, layout.find(')') - open - 1);
    }
    const xkb_rule_names rules{nullptr, nullptr, names.c_str(),
                               variant.empty() ? nullptr : variant.c_str(), nullptr};
    return xkb_keymap_new_from_names(context, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS);
}

int StandInKeyboard(const std::string& layout, bool capsLock) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* keymap = KeymapOf(context, layout);
    if (keymap == nullptr) return 2;
    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    WaylandConnection wayland;
    if (const char* problem = wayland.Open(nullptr, context); problem != nullptr) {
        std::fprintf(stderr, "%s\n", problem);
        return 2;
    }
    if (!wayland.CreateVirtualKeyboard() || !wayland.UploadKeymap(text, std::strlen(text) + 1))
        return 2;
    if (capsLock) {
        // A virtual keyboard's keys change none of its modifiers: it reports
        // them itself, Caps Lock locked as a user's keyboard would after
        // Caps Lock was pressed.
        const xkb_mod_index_t lock = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CAPS);
        wayland.Modifiers(0, 0, 1u << lock, 0);
    }
    wayland.Sync();
    std::printf("READY\n");
    std::fflush(stdout);
    // The key of a at the first level.
    xkb_keycode_t keyOfA = 0;
    for (xkb_keycode_t code = 8; code < 256 && keyOfA == 0; ++code) {
        const xkb_keysym_t* syms = nullptr;
        if (xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &syms) == 1 &&
            syms[0] == XKB_KEY_a)
            keyOfA = code;
    }
    char line[64];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        if (std::strcmp(line, "a\n") != 0 || keyOfA == 0) continue;
        wayland.Key(keyOfA - 8, true);
        wayland.Key(keyOfA - 8, false);
        wayland.Sync();
        std::printf("TYPED\n");
        std::fflush(stdout);
    }
    std::free(text);
    return 0;
}

int PrintKeymap(const char* configured) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    WaylandConnection wayland;
    if (const char* problem = wayland.Open(nullptr, context); problem != nullptr) {
        std::fprintf(stderr, "%s\n", problem);
        return 2;
    }
    wayland.Sync();
    wayland.Poll();
    if (wayland.Keymap() == nullptr) {
        std::printf("NO KEYMAP\n");
        return 1;
    }
    std::printf("GROUP %u %s\n", wayland.Group(), wayland.GroupReported() ? "reported" : "first");
    std::printf("LAYOUTS");
    for (xkb_layout_index_t i = 0; i < xkb_keymap_num_layouts(wayland.Keymap()); ++i)
        std::printf("%s%s", i == 0 ? " " : ",", xkb_keymap_layout_get_name(wayland.Keymap(), i));
    std::printf("\n");
    char* text = xkb_keymap_get_as_string(wayland.Keymap(), XKB_KEYMAP_FORMAT_TEXT_V1);
    if (configured != nullptr) {
        xkb_keymap* expected = KeymapOf(context, configured);
        char* expectedText = expected != nullptr
                                 ? xkb_keymap_get_as_string(expected, XKB_KEYMAP_FORMAT_TEXT_V1)
                                 : nullptr;
        std::printf(
            "%s %s\n",
            expectedText != nullptr && std::strcmp(expectedText, text) == 0 ? "SAME" : "DIFFERENT",
            configured);
        std::free(expectedText);
    }
    std::printf("KEYMAP\n%s", text);
    std::free(text);
    return 0;
}

std::atomic<std::int32_t> running{1};
std::atomic<std::int32_t> lineWait{1};
std::atomic<bool> portReady{false};
void ReportPort(bool ready) {
    portReady.store(ready);
}

int Type(int delay, int failingUploads) {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 2;
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    char folder[] = "/tmp/quorvel-wayland-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 2;
    std::filesystem::create_directory(std::string(folder) + "/ports");
    std::filesystem::create_symlink(ttyname(slave), std::string(folder) + "/ports/com1");
    platform::linux_backend::SetPortsFolder(folder);

    SerialSettings.port = 1;
    SerialSettings.baudRate = 9600;
    SerialSettings.dataBits = 8;
    SerialSettings.strokeDelay = static_cast<std::uint16_t>(delay);
    platform::StrCopy(SerialSettings.keyTableName, kSectionNameCapacity, kActiveLayoutName);
    if (const char16_t* problem = platform::OpenKeyboardOutput(); problem != nullptr) {
        std::printf("OUTPUT none\n");
        return 2;
    }
    memfdFailures.store(failingUploads);
    std::printf("OUTPUT ready\n");
    std::fflush(stdout);
    ConnectReception({&running, &lineWait, ReportPort, nullptr});
    // What the dialog would show, on standard error as it is kept.
    std::atomic<bool> typing{true};
    std::thread reports([&typing] {
        char16_t text[platform::kReportCapacity];
        unsigned char line[4 * platform::kReportCapacity];
        for (;;) {
            const bool last = !typing.load();
            while (platform::TakeReport(text, std::size(text))) {
                const std::ptrdiff_t n = platform::EncodeUtf8(text, line, sizeof line);
                if (n > 0) std::fwrite(line, 1, static_cast<std::size_t>(n), stderr);
                std::fputc('\n', stderr);
                std::fflush(stderr);
            }
            if (last) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    platform::ThreadHandle thread = platform::CreateThread(ReceptionThreadProc, nullptr, nullptr);
    for (int i = 0; i < 1000 && !portReady.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(0, buffer, sizeof buffer);
        if (n <= 0) break;
        if (write(master, buffer, static_cast<std::size_t>(n)) != n) break;
    }
    // What is still on its way is typed before the thread is told to end.
    for (int i = 0; i < 600; ++i) {
        int waiting = 0;
        if (ioctl(slave, FIONREAD, &waiting) == 0 && waiting == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    QuitReception(thread);
    platform::CloseKeyboardOutput();
    typing.store(false);
    reports.join();
    close(master);
    close(slave);
    std::filesystem::remove_all(folder);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "keyboard" && argc > 2)
        return StandInKeyboard(argv[2], argc > 3 && std::strcmp(argv[3], "caps") == 0);
    if (command == "keymap") return PrintKeymap(argc > 2 ? argv[2] : nullptr);
    if (command == "type" && argc > 2)
        return Type(std::atoi(argv[2]), argc > 3 ? std::atoi(argv[3]) : 0);
    std::fprintf(stderr,
                 "usage: wayland_tool keyboard LAYOUT [caps] | keymap | type DELAY [FAILS]\n");
    return 2;
}
