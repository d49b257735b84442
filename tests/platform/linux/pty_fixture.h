// A pseudo-terminal standing in for a scanner's serial line, and a scratch
// folder laid out as a settings folder with its ports/ links and an empty
// fake device tree, so that no test sees the machine's real ports; and the files such a
// tree holds.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/linux/serial/port_names.h"

namespace quorvel_test {

class Pty {
  public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
            name_ = ::ptsname(master_);
        }
    }
    ~Pty() { Hangup(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool Ok() const { return !name_.empty(); }
    const std::string& SlaveName() const { return name_; }
    int Master() const { return master_; }
    bool Write(std::string_view bytes) {
        return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // The scanner's cable pulled: the slave side hangs up.
    void Hangup() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

  private:
    int master_ = -1;
    std::string name_;
};

class ScratchFolder {
  public:
    ScratchFolder() {
        char pattern[] = "/tmp/quorvel-linux-test-XXXXXX";
        path_ = ::mkdtemp(pattern);
        for (const char* sub : {"settings/ports", "by-id", "dev", "sys"})
            std::filesystem::create_directories(path_ / sub);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    platform::linux_backend::DeviceRoots Roots() const {
        platform::linux_backend::DeviceRoots roots;
        roots.portsFolder = path_ / "settings";
        roots.byIdDir = path_ / "by-id";
        roots.devDir = path_ / "dev";
        roots.sysTtyDir = path_ / "sys";
        return roots;
    }
    // ports/comN -> target, replacing an earlier link.
    void LinkPort(int n, const std::string& target) const {
        const auto link = path_ / "settings" / "ports" / ("com" + std::to_string(n));
        std::filesystem::remove(link);
        std::filesystem::create_symlink(target, link);
    }

  private:
    std::filesystem::path path_;
};

// Writes `text` to `path`, making its folders first.
inline void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

}  // namespace quorvel_test
