#include "cli/serial_port_list.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A directory tree laid out like sysfs, with relative symlinks as the kernel
// makes them: class/tty/NAME -> a tty directory below its hardware, whose
// `device` link leads back up; devices with `subsystem` and `driver` links.
class SysfsTree {
public:
    // devices/PATH on BUS, bound to DRIVER unless empty; attributes as name=value.
    fs::path device(const std::string& path, const std::string& bus, const std::string& driver,
                    const std::vector<std::pair<std::string, std::string>>& attributes = {}) {
        const fs::path dir = root / "devices" / path;
        fs::create_directories(dir);
        fs::create_directories(root / "bus" / bus / "drivers" / driver);
        link(dir / "subsystem", root / "bus" / bus);
        if (!driver.empty()) {
            link(dir / "driver", root / "bus" / bus / "drivers" / driver);
        }
        for (const auto& [name, value] : attributes) {
            std::ofstream(dir / name) << value << "\n";
        }
        return dir;
    }

    // A tty below hardware (none: a virtual tty), with its serial-core type unless empty.
    void tty(const std::string& name, const fs::path& hardware, const std::string& type = "") {
        const fs::path dir =
            hardware.empty() ? root / "devices/virtual/tty" / name : hardware / "tty" / name;
        fs::create_directories(dir);
        fs::create_directories(root / "class/tty");
        link(root / "class/tty" / name, dir);
        if (!hardware.empty()) {
            link(dir / "device", hardware);
        }
        if (!type.empty()) {
            std::ofstream(dir / "type") << type << "\n";
        }
    }

    TempDir dir;
    fs::path root = dir.path();

private:
    static void link(const fs::path& at, const fs::path& target) {
        fs::create_directory_symlink(target.lexically_relative(at.parent_path()), at);
    }
};

std::vector<std::string> listed(const fs::path& root) {
    std::vector<std::string> out;
    for (const auto& e : listSerialPorts(root)) {
        out.push_back(entryText(e));
    }
    return out;
}

TEST(ListSerialPorts, KeepsPortsWithHardwareAndDescribesThem) {
    SysfsTree sys;
    const std::string hub = "pci0000:00/0000:00:14.0/usb1/";
    // FTDI: the usb-serial port device sits below the interface.
    sys.device(hub + "1-1", "usb", "usb", {{"product", "FT232R USB UART"}});
    sys.device(hub + "1-1/1-1:1.0", "usb", "ftdi_sio");
    sys.tty("ttyUSB0", sys.device(hub + "1-1/1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio"));
    // A dual bridge whose interface has a string of its own.
    sys.device(hub + "1-2", "usb", "usb", {{"product", "CP2105 Dual Bridge"}});
    sys.device(hub + "1-2/1-2:1.1", "usb", "cp210x", {{"interface", "Standard Com Port"}});
    sys.tty("ttyUSB1", sys.device(hub + "1-2/1-2:1.1/ttyUSB1", "usb-serial", "cp210x"));
    // CDC-ACM: the tty hangs off the interface, whose string repeats the product.
    sys.device(hub + "1-3", "usb", "usb", {{"product", "Pico"}});
    sys.tty("ttyACM0", sys.device(hub + "1-3/1-3:1.0", "usb", "cdc_acm", {{"interface", "Pico"}}));
    // No strings: the driver's name.
    sys.device(hub + "1-4", "usb", "usb");
    sys.device(hub + "1-4/1-4:1.0", "usb", "ch341");
    sys.tty("ttyUSB10", sys.device(hub + "1-4/1-4:1.0/ttyUSB10", "usb-serial", "ch341-uart"));
    // A PC's COM1 as Linux 6.5+ shows it: tty -> serial-base port -> controller -> pnp device.
    sys.device("pnp0/00:05", "pnp", "serial");
    sys.device("pnp0/00:05/00:05:0", "serial-base", "ctrl");
    sys.tty("ttyS0", sys.device("pnp0/00:05/00:05:0/00:05:0.0", "serial-base", "port"), "4");
    // A Raspberry Pi's PL011, and its mini UART: a platform ttyS with a real UART.
    sys.tty("ttyAMA0", sys.device("platform/soc/fe201000.serial", "amba", "uart-pl011"), "3");
    sys.tty("ttyS3", sys.device("platform/soc/fe215040.serial", "platform", "bcm2835-aux"), "4");

    EXPECT_EQ(listed(sys.root), (std::vector<std::string>{
                                    "ttyACM0 - Pico",
                                    "ttyAMA0 - uart-pl011",
                                    "ttyS0 - serial",
                                    "ttyS3 - bcm2835-aux",
                                    "ttyUSB0 - FT232R USB UART",
                                    "ttyUSB1 - CP2105 Dual Bridge (Standard Com Port)",
                                    "ttyUSB10 - ch341-uart",
                                }));
}

TEST(ListSerialPorts, LeavesOutTtysWithoutAUart) {
    SysfsTree sys;
    const fs::path placeholders = sys.device("platform/serial8250", "platform", "serial8250");
    sys.tty("ttyS1", placeholders, "0");  // PORT_UNKNOWN
    sys.tty("ttyS2", placeholders);       // no type at all
    sys.device("platform/serial8250/serial8250:0", "serial-base", "ctrl");
    sys.tty("ttyS4", sys.device("platform/serial8250/serial8250:0/serial8250:0.4", "serial-base",
                                "port"));  // the same, seen through serial-base
    sys.tty("ttyS5", sys.device("pnp0/00:06", "pnp", "serial"), "0");
    sys.tty("tty1", {});  // virtual console: no device link
    sys.tty("ttyUSB9", sys.device("usb1/1-5/1-5:1.0/ttyUSB9", "usb-serial", "ftdi_sio"));
    fs::remove_all(sys.root / "devices/usb1/1-5/1-5:1.0/ttyUSB9");  // unplugged meanwhile

    EXPECT_TRUE(listed(sys.root).empty());
    EXPECT_TRUE(listed(sys.root / "no-such-sysfs").empty());
}

}  // namespace
