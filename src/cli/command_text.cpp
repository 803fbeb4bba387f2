#include "cli/command_text.h"

#include "cli/translation.h"

#ifndef PELLORA_VERSION
#error "the build defines PELLORA_VERSION from the project's version"
#endif

namespace {

// The length of the well-formed UTF-8 sequence at text[at], 0 if there is
// none (a stray continuation byte, a truncated or overlong sequence, a
// surrogate, past U+10FFFF).
std::size_t utf8SequenceLength(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;  // the second byte's bounds, per RFC 3629
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

char32_t decodeUtf8(const std::string& text, std::size_t at, std::size_t length) {
    static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t c = static_cast<unsigned char>(text[at]) & kLeadBits[length];
    for (std::size_t k = 1; k < length; ++k) {
        c = (c << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
    }
    return c;
}

// What a terminal must not get from a device's string: C0, DEL and C1
// controls, and the characters that reorder or break the text around them
// (a product string with U+202E shows what follows it backwards): the
// bidirectional embeddings, overrides and isolates, the marks, and the line
// and paragraph separators.
bool isControlOrFormat(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// The usage line; its words are translated, its options are not.
const char* usageLine() {
    return _(
        "usage: pellora [-l|--list] [-h|--help] [-V|--version]\n"
        "               [-k|--keyboard=DEVICE]... [--keymap=FILE] [--layout=LAYOUT]\n"
        "               [--share [--switch-key=KEY]]\n"
        "               [-m|--mouse=DEVICE --mouse-port=PORT2\n"
        "                [--mouse-scale=FACTOR] [--mouse-wheel=WHEEL]] [PORT]\n");
}

}  // namespace

void writeHelp(std::ostream& out) {
    // One message per paragraph and per option, so that a translation of
    // one part does not hold up the others; each keeps its lines within 80
    // columns.
    out << usageLine() << "\n"
        << _("Relays a keyboard to an X68000 on the serial port PORT until SIGINT, SIGTERM\n"
             "or SIGHUP (one ignored at its start stays ignored): the X68000 Z USB keyboard\n"
             "(33DD:0011), or with --keyboard any keyboards of Linux's input layer (USB,\n"
             "Bluetooth, PS/2, a laptop's own), several at once if need be, their keys\n"
             "counted together as one keyboard's. With --mouse it relays a mouse of the\n"
             "input layer too, as the X68000's mouse, through a second serial port.\n")
        << "\n"
        << _("  PORT                   a device path (/dev/ttyUSB0), or a name shown by\n"
             "                         --list (ttyUSB0)\n")
        << _("  -k, --keyboard=DEVICE  relay this input device instead of the X68000 Z\n"
             "                         keyboard: its node (/dev/input/event3), a link to it\n"
             "                         (/dev/input/by-id/usb-...-event-kbd), or as --list\n"
             "                         shows it: its node's name (event3), its unique id\n"
             "                         (a Bluetooth address, aa:bb:cc:dd:ee:01) or its name\n"
             "                         (\"Keyboard K380\"), which is looked for again when\n"
             "                         it returns; it is grabbed, so its keys type nowhere\n"
             "                         else meanwhile; give it again for each keyboard to\n"
             "                         relay at once\n")
        << _("  --keymap=FILE          change the keys of --keyboard's map by the lines of\n"
             "                         FILE, \"PCKEY X68KEY\" each (man pellora names them)\n")
        << _("  --layout=LAYOUT        what --keyboard's key tops print: jis (the default:\n"
             "                         keys go by their place), us or uk (keys type the\n"
             "                         characters printed on them)\n")
        << _("  --share                share --keyboard's keyboards and --mouse with this\n"
             "                         computer: they are its own until the switch key is\n"
             "                         pressed twice within half a second, then the\n"
             "                         X68000's until it is pressed twice again; the X68000\n"
             "                         Z keyboard, where plugged in, types on the X68000\n")
        << _("  --switch-key=KEY       the switch key for --share, a Linux key's name as key\n"
             "                         map files take it (default SCROLLLOCK)\n")
        << _("  -m, --mouse=DEVICE     relay this input device as the X68000's mouse: a\n"
             "                         mouse's node, link, node's name, unique id or name,\n"
             "                         as for --keyboard; it is grabbed, so it moves no\n"
             "                         pointer meanwhile; needs --mouse-port\n")
        << _("  --mouse-port=PORT2     the serial port wired to the keyboard connector's\n"
             "                         MSDATA pin (pin 2), a path or a --list name as for\n"
             "                         PORT, not PORT itself; written at 4800 baud, 8N2\n")
        << _("  --mouse-scale=FACTOR   multiply the mouse's motion by FACTOR, a decimal from\n"
             "                         0.1 to 10 (default 1; 0.5 halves it), fractions\n"
             "                         carried so that slow motion still moves\n")
        << _("  --mouse-wheel=WHEEL    roll (the default): each notch of the wheel taps a\n"
             "                         key, ROLL DOWN for a notch up and ROLL UP for one\n"
             "                         down, as the page keys move; none: nothing\n")
        << _("  -l, --list             print the serial ports present, one per line, with the\n"
             "                         adapter's name, serial number and /dev/serial/by-id/\n"
             "                         link, then the input devices, and exit\n")
        << _("  -h, --help             print this help and exit\n")
        << _("  -V, --version          print the version and exit\n") << "\n"
        << _("A keyboard or mouse not plugged in at start is waited for, and so is an input\n"
             "device that another program holds. When a device or a port goes away while\n"
             "relaying, pellora says so and takes it back when it returns. The devices and\n"
             "the ports are each used by one program at a time, so a second pellora finds\n"
             "them in use and ends.\n")
        << "\n"
        << _("Exit status:\n"
             "  0  ended by a signal, or the option's work done\n"
             "  1  did not start: the keyboard or the mouse is present but cannot be opened\n"
             "     (no permission, not a keyboard or mouse, or another program holds the\n"
             "     X68000 Z keyboard), a port cannot be opened, or (with --list) no serial\n"
             "     port found\n"
             "  2  wrong command line (a bad --keymap FILE, LAYOUT or KEY, a keyboard named\n"
             "     twice, --share without --keyboard, --mouse without --mouse-port or the\n"
             "     other way round, PORT2 the same as PORT, a FACTOR or WHEEL out of\n"
             "     bounds, --mouse-scale or --mouse-wheel without --mouse, a DEVICE's\n"
             "     name or unique id that fits two devices included), or no PORT\n")
        << "\n"
        << _("Environment:\n"
             "  LIBUSB_DEBUG   libusb's own diagnostic level\n"
             "  NOTIFY_SOCKET  set by systemd (Type=notify): pellora tells it when it relays\n"
             "                 and what it is doing, which systemctl status shows\n"
             "  WATCHDOG_USEC  set by systemd (WatchdogSec=): pellora pings it every half\n"
             "                 period while its relay answers\n");
}

const char* noSerialPort() {
    return _("No serial port found.");
}

void writeVersion(std::ostream& out) {
    out << "pellora " << PELLORA_VERSION << "\n";
}

std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8SequenceLength(text, i);
        if (length == 0) {
            out += '?';  // not UTF-8: a raw C1 byte (0x80-0x9F) is a control to some terminals
            ++i;
            continue;
        }
        const char32_t c = decodeUtf8(text, i, length);
        out += isControlOrFormat(c) ? std::string("?") : text.substr(i, length);
        i += length;
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
    out << usageLine();
    if (ports.empty()) {
        out << noSerialPort() << "\n";
        return;
    }
    out << _("Serial ports present:") << "\n";
    writePortList(out, ports);
}
