#include "cli/serial_port_list.h"

#include <fstream>
#include <optional>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute without its trailing blanks and newline;
// empty when the attribute is missing or unreadable.
std::string readAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return {};
    }
    const auto end = line.find_last_not_of(" \t\r\n");
    return end == std::string::npos ? std::string() : line.substr(0, end + 1);
}

// Where a sysfs link leads, fully resolved; nothing when it does not exist.
std::optional<fs::path> follow(const fs::path& link) {
    std::error_code ec;
    fs::path target = fs::canonical(link, ec);
    if (ec) {
        return std::nullopt;
    }
    return target;
}

// The last component of where a link leads (the subsystem or driver name), or
// empty when there is no such link.
std::string linkName(const fs::path& link) {
    const auto target = follow(link);
    return target ? target->filename().string() : std::string();
}

// What the kernel tells of one tty: its hardware device and serial-core type.
struct TtyFacts {
    std::string name;
    fs::path device;        // the hardware: the resolved `device` link, past serial-base
    std::string subsystem;  // the device's bus: usb-serial, usb, pnp, platform, amba...
    std::string driver;     // the driver bound to the device, if any
    std::string type;       // serial-core port type; empty where the tty has none
};

bool hasUart(const TtyFacts& tty) {
    if (tty.type == "0") {
        return false;  // PORT_UNKNOWN: a placeholder line with no UART found behind it
    }
    // The 8250 driver's placeholder ports sit on the platform bus; one that does
    // not even say its type is treated as such a placeholder.
    const bool platformTtyS = tty.subsystem == "platform" && tty.name.rfind("ttyS", 0) == 0;
    return !(platformTtyS && tty.type.empty());
}

// A USB port's product string, with the interface string where it differs
// (dual-port chips name each interface); empty when neither exists or the port
// is not on USB.
std::string usbDescription(const TtyFacts& tty) {
    fs::path interfaceDir;
    if (tty.subsystem == "usb-serial") {
        interfaceDir =
            tty.device.parent_path();  // ttyUSB: the port device sits below its interface
    } else if (tty.subsystem == "usb") {
        interfaceDir = tty.device;  // ttyACM: the interface itself
    } else {
        return {};
    }
    const std::string product = readAttribute(interfaceDir.parent_path() / "product");
    const std::string interface = readAttribute(interfaceDir / "interface");
    if (product.empty()) {
        return interface;
    }
    if (interface.empty() || interface == product) {
        return product;
    }
    return product + " (" + interface + ")";
}

std::string describe(const TtyFacts& tty) {
    std::string text = usbDescription(tty);
    if (text.empty()) {
        text = tty.driver;
    }
    if (text.empty()) {
        text = tty.subsystem;
    }
    return text;
}

std::optional<TtyFacts> readTty(const fs::path& classEntry) {
    TtyFacts tty;
    tty.name = classEntry.filename().string();
    const auto device = follow(classEntry / "device");
    if (!device) {
        return std::nullopt;
    }
    tty.device = *device;
    tty.subsystem = linkName(tty.device / "subsystem");
    // Since Linux 6.5 the `device` of a serial-core port is a serial-base port
    // device below a serial-base controller; the hardware is further up.
    for (int depth = 0; tty.subsystem == "serial-base" && depth < 4; ++depth) {
        tty.device = tty.device.parent_path();
        tty.subsystem = linkName(tty.device / "subsystem");
    }
    tty.driver = linkName(tty.device / "driver");
    tty.type = readAttribute(classEntry / "type");
    return tty;
}

}  // namespace

std::vector<PortEntry> listSerialPorts(const fs::path& sysfsRoot) {
    std::vector<PortEntry> ports;
    std::error_code ec;
    fs::directory_iterator it(sysfsRoot / "class" / "tty", ec);
    if (ec) {
        return ports;
    }
    // Increments that fail (the tree changing underneath) end the walk rather than throw.
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const auto tty = readTty(it->path());
        if (tty && hasUart(*tty)) {
            ports.push_back({tty->name, describe(*tty)});
        }
    }
    sortPortList(ports);
    return ports;
}
