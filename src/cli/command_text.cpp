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
           "PORT until SIGINT, SIGTERM or SIGHUP.\n"
           "\n"
           "  PORT           a device path (/dev/ttyUSB0), or a name shown by --list (ttyUSB0)\n"
           "  -l, --list     print the serial ports present, one per line, and exit\n"
           "  -h, --help     print this help and exit\n"
           "  -V, --version  print the version and exit\n"
           "\n"
           "Only one pellora runs on a machine at a time.\n"
           "\n"
           "Exit status:\n"
           "  0  ended by a signal, or the option's work done\n"
           "  1  did not start: already running, keyboard not opened, port not opened,\n"
           "     or (with --list) no serial port found\n"
           "  2  wrong command line, or no PORT\n"
           "  3  the keyboard was disconnected\n"
           "  4  the serial device went away\n"
           "\n"
           "Environment:\n"
           "  PELLORA_LOCK_FILE  the single-instance lock file\n"
           "                     (default /run/lock/pellora.lock, or /tmp/pellora.lock)\n"
           "  LIBUSB_DEBUG       libusb's own diagnostic level\n";
}

void writeVersion(std::ostream& out) {
    out << "pellora " << PELLORA_VERSION << "\n";
}

void writePortList(std::ostream& out, const std::vector<PortEntry>& ports) {
    for (const PortEntry& port : ports) {
        out << entryText(port) << "\n";
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
