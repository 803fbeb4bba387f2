#include "cli/command_text.h"

#ifndef PELLORA_VERSION
#error "the build defines PELLORA_VERSION from the project's version"
#endif

namespace {

constexpr const char* kUsageLine = "usage: pellora [-l|--list] [-h|--help] [-V|--version] [PORT]\n";

}  // namespace

void writeHelp(std::ostream& out) {
    out << kUsageLine
        << "\n"
           "Relays the X68000 Z USB keyboard (33DD:0011) to an X68000 on the serial port\n"
           "PORT until SIGINT, SIGTERM or SIGHUP (one ignored at its start stays ignored).\n"
           "\n"
           "  PORT           a device path (/dev/ttyUSB0), or a name shown by --list (ttyUSB0)\n"
           "  -l, --list     print the serial ports present, one per line, with the\n"
           "                 adapter's name, serial number and /dev/serial/by-id/ link,\n"
           "                 and exit\n"
           "  -h, --help     print this help and exit\n"
           "  -V, --version  print the version and exit\n"
           "\n"
           "A keyboard not plugged in at start is waited for. When the keyboard or the\n"
           "port goes away while relaying, pellora says so and takes it back when it\n"
           "returns. The keyboard and the port are each used by one program at a time,\n"
           "so a second pellora finds them in use and ends.\n"
           "\n"
           "Exit status:\n"
           "  0  ended by a signal, or the option's work done\n"
           "  1  did not start: the keyboard is present but cannot be opened (no\n"
           "     permission, or another program holds it), the port cannot be opened,\n"
           "     or (with --list) no serial port found\n"
           "  2  wrong command line, or no PORT\n"
           "\n"
           "Environment:\n"
           "  LIBUSB_DEBUG   libusb's own diagnostic level\n"
           "  NOTIFY_SOCKET  set by systemd (Type=notify): pellora tells it when it relays\n"
           "                 and what it is doing, which systemctl status shows\n"
           "  WATCHDOG_USEC  set by systemd (WatchdogSec=): pellora pings it every half\n"
           "                 period while its relay answers\n";
}

void writeVersion(std::ostream& out) {
    out << "pellora " << PELLORA_VERSION << "\n";
}

std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c < 0x20 || c == 0x7F) {
            out += '?';
        } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            out += '?';  // U+0080-U+009F in UTF-8: terminals read some as controls too
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void writePortList(std::ostream& out, const std::vector<PortEntry>& ports) {
    for (const PortEntry& port : ports) {
        out << printable(entryText(port)) << "\n";
    }
}

void writeUsage(std::ostream& out, const std::string& error, const std::vector<PortEntry>& ports) {
    if (!error.empty()) {
        out << "pellora: " << error << "\n";
    }
    out << kUsageLine;
    if (ports.empty()) {
        out << kNoSerialPort << "\n";
        return;
    }
    out << "Serial ports present:\n";
    writePortList(out, ports);
}
