// The port list against devices laid out as the kernel and udev present them,
// in umockdev's testbed (the test program runs under its preload, so libudev
// reads the testbed's sysfs and udev properties instead of the machine's).
#include "cli/serial_port_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "usb/emulated_keyboard.h"

namespace {

class ListSerialPorts : public ::testing::Test {
protected:
    // /devices/PATH on BUS, bound to DRIVER unless empty, with more record
    // lines ("A: attribute=value\\n", "E: PROPERTY=value"); returns PATH.
    std::string device(const std::string& path, const std::string& bus, const std::string& driver,
                       const std::string& lines = "") {
        std::string record = "P: /devices/" + path + "\nE: SUBSYSTEM=" + bus + "\n" + lines;
        if (!driver.empty()) {
            std::string up = "../";  // from /sys/devices/PATH up to /sys
            for (char c : path) {
                up += c == '/' ? "../" : "";
            }
            record += "L: driver=" + up + "../bus/" + bus + "/drivers/" + driver + "\n";
        }
        testbed.addDevice(record);
        return path;
    }
    // A tty below hardware, with its serial-core type and udev properties.
    void tty(const std::string& name, const std::string& hardware, const std::string& type = "",
             const std::string& properties = "") {
        testbed.addDevice("P: /devices/" + hardware + "/tty/" + name + "\nN: " + name +
                          "\nE: SUBSYSTEM=tty\n" +
                          (type.empty() ? "" : "A: type=" + type + "\\n\n") + properties);
    }
    // A USB device with these attributes, and its interface 0 bound to driver.
    std::string usbInterface(const std::string& path, const std::string& driver,
                             const std::string& deviceAttributes,
                             const std::string& interfaceAttributes = "") {
        device(path, "usb", "usb", "E: DEVTYPE=usb_device\n" + deviceAttributes);
        const std::string port = path.substr(path.rfind('/') + 1);
        return device(path + "/" + port + ":1.0", "usb", driver,
                      "E: DEVTYPE=usb_interface\n" + interfaceAttributes);
    }

    static std::vector<std::string> listed() {
        std::vector<std::string> out;
        for (const auto& e : listSerialPorts()) {
            out.push_back(entryText(e));
        }
        return out;
    }

    EmulatedKeyboard testbed{{.present = false}};
    const std::string hub = "pci0000:00/0000:00:14.0/usb1/";
};

TEST_F(ListSerialPorts, KeepsPortsWithHardwareAndDescribesThem) {
    // FTDI, where udev runs: the port device sits below the interface; the
    // serial number and udev's by-id link are shown too.
    const std::string ftdi = usbInterface(hub + "1-1", "ftdi_sio",
                                          "A: product=FT232R USB UART\\n\nA: serial=A1B2C3\\n\n");
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
    tty("ttyUSB0", device(ftdi + "/ttyUSB0", "usb-serial", "ftdi_sio"), "",
        "E: ID_SERIAL_SHORT=A1B2C3\nE: DEVLINKS=/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-"
        "port0 " +
            byId + "\n");
    // A dual bridge whose interface has a string of its own.
    const std::string cp2105 =
        usbInterface(hub + "1-2", "cp210x", "A: product=CP2105 Dual Bridge\\n\n",
                     "A: interface=Standard Com Port\\n\n");
    tty("ttyUSB1", device(cp2105 + "/ttyUSB1", "usb-serial", "cp210x"));
    // CDC-ACM: the tty hangs off the interface, whose string repeats the product.
    tty("ttyACM0",
        usbInterface(hub + "1-3", "cdc_acm", "A: product=Pico\\n\n", "A: interface=Pico\\n\n"));
    // No product string: the names from udev's hardware database.
    const std::string ch340 = usbInterface(hub + "1-4", "ch341", "");
    tty("ttyUSB2", device(ch340 + "/ttyUSB2", "usb-serial", "ch341-uart"), "",
        "E: ID_VENDOR_FROM_DATABASE=QinHeng Electronics\n"
        "E: ID_MODEL_FROM_DATABASE=CH340 serial converter\n"
        "E: DEVLINKS=/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0\n");
    // Nor those (no udevd): the driver's name; the serial number from sysfs.
    const std::string bare = usbInterface(hub + "1-5", "ch341", "A: serial=\x1b[2J\\n\n");
    tty("ttyUSB10", device(bare + "/ttyUSB10", "usb-serial", "ch341-uart"));
    // A PC's COM1 as Linux 6.5+ shows it: tty -> serial-base port -> controller -> pnp device.
    device("pnp0/00:05", "pnp", "serial");
    device("pnp0/00:05/00:05:0", "serial-base", "ctrl");
    tty("ttyS0", device("pnp0/00:05/00:05:0/00:05:0.0", "serial-base", "port"), "4");
    // A Raspberry Pi's PL011, and its mini UART: a platform ttyS with a real UART.
    tty("ttyAMA0", device("platform/soc/fe201000.serial", "amba", "uart-pl011"), "3");
    tty("ttyS3", device("platform/soc/fe215040.serial", "platform", "bcm2835-aux"), "4");

    EXPECT_EQ(listed(),
              (std::vector<std::string>{
                  "ttyACM0 - Pico",
                  "ttyAMA0 - uart-pl011",
                  "ttyS0 - serial",
                  "ttyS3 - bcm2835-aux",
                  "ttyUSB0 - FT232R USB UART, serial A1B2C3, " + byId,
                  "ttyUSB1 - CP2105 Dual Bridge (Standard Com Port)",
                  "ttyUSB10 - ch341-uart, serial \x1b[2J",  // printable() is the printer's
                  "ttyUSB2 - QinHeng Electronics CH340 serial converter, "
                  "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0",
              }));
}

TEST_F(ListSerialPorts, LeavesOutTtysWithoutAUart) {
    const std::string placeholders = device("platform/serial8250", "platform", "serial8250");
    tty("ttyS1", placeholders, "0");  // PORT_UNKNOWN
    tty("ttyS2", placeholders);       // no type at all
    device("platform/serial8250/serial8250:0", "serial-base", "ctrl");
    tty("ttyS4", device("platform/serial8250/serial8250:0/serial8250:0.4", "serial-base",
                        "port"));  // the same, seen through serial-base
    tty("ttyS5", device("pnp0/00:06", "pnp", "serial"), "0");
    testbed.addDevice("P: /devices/virtual/tty/tty1\nN: tty1\nE: SUBSYSTEM=tty\n");  // no hardware

    EXPECT_TRUE(listed().empty());
}

}  // namespace
