// POSIX back-end of identifyPort: the tty's device in sysfs, found by its
// device number (so a /dev/serial/by-id/... link or any other name of the same
// node leads to it), and above it the USB interface and device it hangs from.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "io/port_identity.h"
#include "io/serial_port.h"

namespace fs = std::filesystem;

namespace {

// A sysfs attribute's first line without its newline; empty when missing.
std::string attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())) != 0) {
        line.pop_back();
    }
    return line;
}

std::string lowerCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

std::optional<PortIdentity> identifyPort(const std::string& name) {
    const std::string path = SerialPort::devicePath(name);
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return std::nullopt;
    }
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u", ::major(st.st_rdev),
                  ::minor(st.st_rdev));
    std::error_code ec;
    const fs::path device = fs::canonical(link, ec);
    if (ec) {
        return std::nullopt;  // no sysfs device: a pseudo-terminal
    }
    // Up from the tty: the first directory with an interface number is its USB
    // interface (ttyACM hangs right below it, ttyUSB below a usb-serial port
    // device), and the USB device is the interface's parent.
    for (fs::path dir = device.parent_path(); dir.has_relative_path() && dir != "/sys";
         dir = dir.parent_path()) {
        const std::string interface = attribute(dir / "bInterfaceNumber");
        if (interface.empty()) {
            continue;
        }
        const fs::path usbDevice = dir.parent_path();
        PortIdentity identity{lowerCase(attribute(usbDevice / "idVendor")),
                              lowerCase(attribute(usbDevice / "idProduct")),
                              attribute(usbDevice / "serial"), lowerCase(interface)};
        if (identity.vendorId.empty()) {
            return std::nullopt;
        }
        return identity;
    }
    return std::nullopt;  // a built-in UART, or anything not on USB
}
