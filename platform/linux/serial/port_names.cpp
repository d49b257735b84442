// COMn to a device path: a user's link first, then the devices present.
#include "platform/linux/serial/port_names.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace platform::linux_backend {

namespace {

// Where the serial backend looks, as the program and the tests set it.
struct PortRootsState {
    std::mutex lock;
    DeviceRoots current;
};
PortRootsState portRoots;

std::vector<std::string> DirectoryNames(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return names;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    }
    ::closedir(d);
    return names;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The path a link finally names, or the path itself when it names nothing
// (yet): a user then sees where the link points.
std::string Target(const std::string& path) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string result(real);
        std::free(real);
        return result;
    }
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : path;
}

// The number N of "ttySN", or -1.
int UartNumber(const std::string& name) {
    if (name.size() < 5 || name.compare(0, 4, "ttyS") != 0) return -1;
    int n = 0;
    for (std::size_t i = 4; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 100000) return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

// The serial core's "type" attribute is the UART type of TIOCGSERIAL:
// 0 (PORT_UNKNOWN) for the placeholder ports that have no UART behind them.
bool HasUart(const DeviceRoots& roots, const std::string& name) {
    std::ifstream type(roots.sysTtyDir + "/" + name + "/type");
    int value = 0;
    return static_cast<bool>(type >> value) && value != 0;
}

struct Device {
    PortSource source;
    std::string path;
    std::string note;
};

std::vector<Device> DevicesPresent(const DeviceRoots& roots) {
    std::vector<Device> devices;
    std::vector<std::string> byId = DirectoryNames(roots.byIdDir);
    std::sort(byId.begin(), byId.end());
    std::vector<std::string> seen;
    for (const std::string& name : byId) {
        const std::string path = roots.byIdDir + "/" + name;
        devices.push_back({PortSource::ById, path, name});
        seen.push_back(Target(path));
    }
    std::vector<std::pair<int, std::string>> uarts;
    for (const std::string& name : DirectoryNames(roots.sysTtyDir)) {
        const int n = UartNumber(name);
        if (n >= 0 && HasUart(roots, name)) uarts.emplace_back(n, name);
    }
    std::sort(uarts.begin(), uarts.end());
    for (const auto& [number, name] : uarts) {
        const std::string path = roots.devDir + "/" + name;
        if (!Exists(path) || std::find(seen.begin(), seen.end(), Target(path)) != seen.end())
            continue;
        devices.push_back({PortSource::Uart, path, "serial port"});
    }
    return devices;
}

}  // namespace

ResolvedPort ResolvePort(int n, const DeviceRoots& roots) {
    ResolvedPort port;
    if (n < 1) return port;
    if (!roots.portsFolder.empty()) {
        const std::string name = "com" + std::to_string(n);
        const std::string link = roots.portsFolder + "/ports/" + name;
        if (Exists(link)) {
            port.source = PortSource::Link;
            port.path = link;
            port.shown = Target(link);
            port.note = "ports/" + name;
            return port;
        }
    }
    std::vector<Device> devices = DevicesPresent(roots);
    if (static_cast<std::size_t>(n) > devices.size()) return port;
    Device& d = devices[static_cast<std::size_t>(n - 1)];
    port.source = d.source;
    port.shown = Target(d.path);
    port.path = std::move(d.path);
    port.note = std::move(d.note);
    return port;
}

std::string DescribePort(int n, const DeviceRoots& roots) {
    const ResolvedPort port = ResolvePort(n, roots);
    std::string line = "COM" + std::to_string(n) + "  ";
    if (port.source == PortSource::None) return line + "(no device)";
    line += port.shown + " (" + port.note;
    struct stat st {};
    if (::stat(port.path.c_str(), &st) != 0) line += ", not present";
    return line + ")";
}

std::vector<int> PresentPortNumbers(const DeviceRoots& roots) {
    std::vector<int> numbers;
    const int devices = static_cast<int>(DevicesPresent(roots).size());
    for (int n = 1; n <= devices; ++n) numbers.push_back(n);
    if (!roots.portsFolder.empty()) {
        for (const std::string& name : DirectoryNames(roots.portsFolder + "/ports")) {
            // "com" and 1 to 3 digits without a leading zero, as the links are named.
            if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "com") != 0 ||
                name[3] == '0' || name.find_first_not_of("0123456789", 3) != std::string::npos)
                continue;
            const int n = std::stoi(name.substr(3));
            if (n <= 256) numbers.push_back(n);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

void SetPortsFolder(std::string folder) {
    std::lock_guard lock(portRoots.lock);
    portRoots.current.portsFolder = std::move(folder);
}

void SetPortsFolderOf(const char16_t* settingsFilePath) {
    unsigned char utf8[4096];
    const std::ptrdiff_t n = EncodeUtf8(settingsFilePath, utf8, sizeof utf8);
    if (n < 0) return;
    std::string path(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    SetPortsFolder(slash == std::string::npos ? std::string(".") : path.substr(0, slash));
}

void SetDeviceRoots(DeviceRoots roots) {
    std::lock_guard lock(portRoots.lock);
    portRoots.current = std::move(roots);
}

DeviceRoots CurrentDeviceRoots() {
    std::lock_guard lock(portRoots.lock);
    return portRoots.current;
}

std::string DescribeComPort(int n) {
    return DescribePort(n, CurrentDeviceRoots());
}

}  // namespace platform::linux_backend
