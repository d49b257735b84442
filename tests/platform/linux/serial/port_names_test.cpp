// COMn resolution over a fake device tree: a user's ports/comN link wins;
// otherwise devices count in order, by-id names first (sorted), then the
// ttyS ports with a UART behind them; and what the Port list shows for each.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/linux/serial/port_names.h"
#include "tests/platform/linux/pty_fixture.h"

namespace {

using namespace platform::linux_backend;
namespace fs = std::filesystem;
using quorvel_test::WriteFile;

TEST(PortNamesTest, LinksWinThenByIdThenUartsInNumberOrder) {
    quorvel_test::ScratchFolder scratch;
    const fs::path root = scratch.Path();
    const DeviceRoots roots = scratch.Roots();

    // Two USB adapters, listed by-id out of name order.
    WriteFile(root / "dev/ttyACM0", "");
    WriteFile(root / "dev/ttyUSB0", "");
    fs::create_symlink(root / "dev/ttyUSB0", root / "by-id/usb-Zebra_Scanner-if00");
    fs::create_symlink(root / "dev/ttyACM0", root / "by-id/usb-Symbol_LS3578-if00");
    // ttyS0, 2 and 10 have UARTs (10 comes after 2); ttyS1 is a placeholder,
    // ttyS3 has a UART but no node.
    for (const char* n : {"ttyS0", "ttyS1", "ttyS2", "ttyS10"}) WriteFile(root / "dev" / n, "");
    WriteFile(root / "sys/ttyS0/type", "4\n");
    WriteFile(root / "sys/ttyS1/type", "0\n");
    WriteFile(root / "sys/ttyS2/type", "4\n");
    WriteFile(root / "sys/ttyS10/type", "4\n");
    WriteFile(root / "sys/ttyS3/type", "4\n");
    WriteFile(root / "sys/ttyACM0/type", "4\n");  // not a ttyS: counted by-id only
    // COM2 is the user's link, to a device that is not there yet.
    scratch.LinkPort(2, "/dev/quorvel-absent");

    EXPECT_EQ(ResolvePort(1, roots).path, (root / "by-id/usb-Symbol_LS3578-if00").string());
    EXPECT_EQ(ResolvePort(1, roots).source, PortSource::ById);
    EXPECT_EQ(ResolvePort(2, roots).source, PortSource::Link);
    EXPECT_EQ(ResolvePort(2, roots).path, (root / "settings/ports/com2").string());
    // A link takes COM2 only; the devices keep their own numbers.
    EXPECT_EQ(ResolvePort(3, roots).path, (root / "dev/ttyS0").string());
    EXPECT_EQ(ResolvePort(4, roots).path, (root / "dev/ttyS2").string());
    EXPECT_EQ(ResolvePort(5, roots).path, (root / "dev/ttyS10").string());
    EXPECT_EQ(ResolvePort(6, roots).source, PortSource::None);

    EXPECT_EQ(DescribePort(1, roots),
              "COM1  " + (root / "dev/ttyACM0").string() + " (usb-Symbol_LS3578-if00)");
    EXPECT_EQ(DescribePort(2, roots), "COM2  /dev/quorvel-absent (ports/com2, not present)");
    EXPECT_EQ(DescribePort(5, roots), "COM5  " + (root / "dev/ttyS10").string() + " (serial port)");
    EXPECT_EQ(DescribePort(6, roots), "COM6  (no device)");

    // Without a settings folder there are no links, and no devices: nothing.
    DeviceRoots bare = roots;
    bare.portsFolder.clear();
    EXPECT_EQ(ResolvePort(2, bare).path, (root / "by-id/usb-Zebra_Scanner-if00").string());
    bare.byIdDir = (root / "missing").string();
    bare.sysTtyDir = (root / "missing").string();
    EXPECT_EQ(ResolvePort(1, bare).source, PortSource::None);

    // The program names its settings file; the links are beside it.
    SetDeviceRoots(bare);
    SetPortsFolderOf((root / "settings/QuorvelCE.INI").u16string().c_str());
    EXPECT_EQ(DescribeComPort(2), "COM2  /dev/quorvel-absent (ports/com2, not present)");
    SetDeviceRoots({});
}

}  // namespace
