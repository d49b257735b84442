// A private X server for the tests that type into X clients: an Xvfb started
// on the first free display of a range, and the programs such tests run
// beside it (setxkbmap).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quorvel_test {

// Runs `args` (found on PATH) and returns its exit status, -1 when it could
// not start or did not exit; with `started`, returns 0 at once and leaves the
// process running with its id there.
int RunProgram(const std::vector<std::string>& args, pid_t* started = nullptr);
// Whether `program` is on PATH.
bool InPath(const char* program);

// An Xvfb of our own, stopped when this goes.
class XvfbDisplay {
  public:
    XvfbDisplay() = default;
    ~XvfbDisplay() { Stop(); }
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // Starts Xvfb on the first display from `first` to `last` whose lock file
    // is free, and waits until a client can connect. False when none started.
    bool Start(int first, int last);
    void Stop();
    // ":N", or empty until started.
    const std::string& name() const { return name_; }

  private:
    pid_t pid_ = 0;
    std::string name_;
};

// For the life of a test process: a runtime folder of its own in
// XDG_RUNTIME_DIR (0700, removed with what it holds when this goes) and no
// WAYLAND_DISPLAY, so that nothing the test or the code under test makes
// there lands in the developer's session and no test reaches its compositor.
class PrivateRuntimeDir {
  public:
    PrivateRuntimeDir();
    ~PrivateRuntimeDir();
    PrivateRuntimeDir(const PrivateRuntimeDir&) = delete;
    PrivateRuntimeDir& operator=(const PrivateRuntimeDir&) = delete;
    // Empty when no folder could be made (the test should not run then).
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Sets the layout of `display` as setxkbmap does; "us(dvorak)" names a variant.
bool SetXLayout(const std::string& display, const std::string& layout);

}  // namespace quorvel_test
