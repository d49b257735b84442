// Starting Xvfb for the X tests, and the programs they run beside it.
#include "tests/support/x_display.h"

#include <X11/Xlib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

extern char** environ;

namespace quorvel_test {

int RunProgram(const std::vector<std::string>& args, pid_t* started) {
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

namespace {

// Whether a live server holds display n. A killed server leaves its lock file
// behind, and Xvfb takes such a number over itself: a lock whose process is
// gone must not lose the number to every later run.
bool DisplayTaken(int n) {
    const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    struct stat st {};
    if (stat(lock.c_str(), &st) != 0) {
        return stat(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), &st) == 0;
    }
    long owner = 0;
    if (FILE* f = std::fopen(lock.c_str(), "r")) {
        if (std::fscanf(f, "%ld", &owner) != 1) owner = 0;
        std::fclose(f);
    }
    if (owner <= 0) return true;
    return kill(static_cast<pid_t>(owner), 0) == 0 || errno != ESRCH;
}

}  // namespace

bool XvfbDisplay::Start(int first, int last) {
    Stop();
    for (int n = first; n <= last; ++n) {
        if (DisplayTaken(n)) continue;
        const std::string display = ":" + std::to_string(n);
        pid_t pid = 0;
        if (RunProgram({"Xvfb", display, "-noreset", "-nolisten", "tcp"}, &pid) != 0) return false;
        for (int i = 0; i < 100; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = 0;  // lost the display to another server
                break;
            }
            if (Display* client = XOpenDisplay(display.c_str())) {
                XCloseDisplay(client);
                pid_ = pid;
                name_ = display;
                return true;
            }
        }
        if (pid != 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    return false;
}

void XvfbDisplay::Stop() {
    if (pid_ != 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = 0;
    name_.clear();
}

PrivateRuntimeDir::PrivateRuntimeDir() {
    unsetenv("WAYLAND_DISPLAY");
    std::error_code error;
    std::string pattern =
        (std::filesystem::temp_directory_path(error) / "quorvel-rt-XXXXXX").string();
    if (error || mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
}

PrivateRuntimeDir::~PrivateRuntimeDir() {
    if (path_.empty()) return;
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

bool SetXLayout(const std::string& display, const std::string& layout) {
    const auto open = layout.find('(');
    if (open == std::string::npos)
        return RunProgram({"setxkbmap", "-display", display, layout}) == 0;
    return RunProgram({"setxkbmap", "-display", display, layout.substr(0, open), "-variant",
                       layout.substr(open + 1, layout.size() - open - 2)}) == 0;
}

}  // namespace quorvel_test
