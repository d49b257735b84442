// Which Linux device a settings file's "COM = n" means. One settings file
// serves Windows and Linux, so COMn resolves, in this order, to a link
// `ports/comN` in the settings file's folder (as Wine's dosdevices), or to the
// n-th serial device present: /dev/serial/by-id/* in name order, then the
// /dev/ttyS* ports that have a real UART. One USB scanner plugged in is COM1.
#pragma once

#include <string>
#include <vector>

namespace platform::linux_backend {

// Where to look; tests point these at a fake tree.
struct DeviceRoots {
    std::string portsFolder;  // the settings file's folder; empty: no links
    std::string byIdDir = "/dev/serial/by-id";
    std::string devDir = "/dev";
    std::string sysTtyDir = "/sys/class/tty";
};

enum class PortSource { None, Link, ById, Uart };

struct ResolvedPort {
    PortSource source = PortSource::None;
    std::string path;   // what to open; empty for None
    std::string shown;  // the device path a user recognises (the link's target)
    std::string note;   // the link's or by-id name, or the UART's kind
};

ResolvedPort ResolvePort(int n, const DeviceRoots& roots);
// One line for the dialog's Port list: "COM1  /dev/ttyACM0 (usb-Symbol_...)",
// or "COM3  (no device)".
std::string DescribePort(int n, const DeviceRoots& roots);

// The n for which COMn names something: 1 to the number of devices present,
// and every ports/comN link (N from 1 to 256); ascending.
std::vector<int> PresentPortNumbers(const DeviceRoots& roots);

// The roots the serial backend uses. The program sets the folder once it
// knows where its settings file is; until then only devices are counted.
void SetPortsFolder(std::string folder);
// The same from the settings file's own path (its folder is taken).
void SetPortsFolderOf(const char16_t* settingsFilePath);
void SetDeviceRoots(DeviceRoots roots);
DeviceRoots CurrentDeviceRoots();
// DescribePort with the current roots.
std::string DescribeComPort(int n);

}  // namespace platform::linux_backend
