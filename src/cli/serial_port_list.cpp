#include "cli/serial_port_list.h"

#include "cli/translation.h"
#include "io/udev_ptr.h"

#include <memory>
#include <string>

namespace {

std::string attribute(udev_device* device, const char* name) {
    return device != nullptr ? udevText(udev_device_get_sysattr_value(device, name)) : "";
}
std::string property(udev_device* device, const char* name) {
    return udevText(udev_device_get_property_value(device, name));
}

// The hardware behind a tty: its parent, past serial-base devices (since
// Linux 6.5 a serial-core tty hangs off a serial-base port below a
// serial-base controller). Owned by tty; nothing for a virtual tty.
udev_device* hardwareOf(udev_device* tty) {
    udev_device* device = udev_device_get_parent(tty);
    for (int depth = 0; device != nullptr && depth < 4 &&
                        udevText(udev_device_get_subsystem(device)) == "serial-base";
         ++depth) {
        device = udev_device_get_parent(device);
    }
    return device;
}

bool hasUart(udev_device* tty, udev_device* hardware) {
    const std::string type = attribute(tty, "type");
    if (type == "0") {
        return false;  // PORT_UNKNOWN: a placeholder line with no UART found behind it
    }
    // The 8250 driver's placeholder ports sit on the platform bus; one that does
    // not even say its type is treated as such a placeholder.
    const bool platformTtyS = udevText(udev_device_get_subsystem(hardware)) == "platform" &&
                              udevText(udev_device_get_sysname(tty)).rfind("ttyS", 0) == 0;
    return !(platformTtyS && type.empty());
}

// What the device calls itself: the USB product string, else the hardware
// database's names; with the interface's string where it differs (dual-port
// chips name each interface).
std::string deviceName(udev_device* tty) {
    udev_device* interface =
        udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_interface");
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
    std::string name = attribute(usb, "product");
    if (name.empty()) {
        const std::string vendor = property(tty, "ID_VENDOR_FROM_DATABASE");
        const std::string model = property(tty, "ID_MODEL_FROM_DATABASE");
        name = vendor.empty() || model.empty() ? vendor + model : vendor + " " + model;
    }
    const std::string interfaceName = attribute(interface, "interface");
    if (name.empty()) {
        return interfaceName;
    }
    if (interfaceName.empty() || interfaceName == name) {
        return name;
    }
    return name + " (" + interfaceName + ")";
}

std::string serialNumber(udev_device* tty) {
    const std::string serial = property(tty, "ID_SERIAL_SHORT");
    return serial.empty()
               ? attribute(udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device"),
                           "serial")
               : serial;
}

// udev's /dev/serial/by-id/ link for the tty, if it made one: DEVLINKS holds
// the tty's links, separated by spaces.
std::string byIdLink(udev_device* tty) {
    const std::string links = property(tty, "DEVLINKS");
    const std::string prefix = "/dev/serial/by-id/";
    for (std::size_t at = links.find(prefix); at != std::string::npos;
         at = links.find(prefix, at + 1)) {
        if (at == 0 || links[at - 1] == ' ') {
            return links.substr(at, links.find(' ', at) - at);
        }
    }
    return {};
}

std::string describe(udev_device* tty, udev_device* hardware) {
    std::string description = deviceName(tty);
    if (description.empty()) {
        description = udevText(udev_device_get_driver(hardware));
    }
    if (description.empty()) {
        description = udevText(udev_device_get_subsystem(hardware));
    }
    if (const std::string serial = serialNumber(tty); !serial.empty()) {
        description = formatted(_("%s, serial %s"), description, serial);
    }
    if (const std::string link = byIdLink(tty); !link.empty()) {
        description += ", " + link;
    }
    return description;
}

}  // namespace

std::vector<PortEntry> listSerialPorts() {
    std::vector<PortEntry> ports;
    forEachDevice("tty", nullptr, [&](udev_device* tty) {
        udev_device* hardware = hardwareOf(tty);
        if (hardware != nullptr && hasUart(tty, hardware)) {
            ports.push_back({udevText(udev_device_get_sysname(tty)), describe(tty, hardware)});
        }
    });
    sortPortList(ports);
    return ports;
}
