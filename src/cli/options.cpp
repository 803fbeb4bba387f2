#include "cli/options.h"

#include <getopt.h>
#include <sys/stat.h>

#include <charconv>
#include <optional>

#include "cli/translation.h"
#include "input/keymap_file.h"
#include "io/serial_port.h"
#include "protocol/mouse_packet.h"

namespace {

// The long options without a short form: their getopt values are past every
// character.
constexpr int kKeymap = 0x100;
constexpr int kMousePort = 0x101;
constexpr int kMouseScale = 0x102;
constexpr int kMouseWheel = 0x103;
constexpr int kLayout = 0x104;
constexpr int kShare = 0x105;
constexpr int kSwitchKey = 0x106;

const option kLongOptions[] = {
    {"list", no_argument, nullptr, 'l'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"keyboard", required_argument, nullptr, 'k'},
    {"keymap", required_argument, nullptr, kKeymap},
    {"layout", required_argument, nullptr, kLayout},
    {"share", no_argument, nullptr, kShare},
    {"switch-key", required_argument, nullptr, kSwitchKey},
    {"mouse", required_argument, nullptr, 'm'},
    {"mouse-port", required_argument, nullptr, kMousePort},
    {"mouse-scale", required_argument, nullptr, kMouseScale},
    {"mouse-wheel", required_argument, nullptr, kMouseWheel},
    {nullptr, 0, nullptr, 0},
};

// --mouse-scale's FACTOR: a plain decimal (2, 0.5, .75) within the scales
// MouseMotion takes, read the same in every locale; none otherwise.
std::optional<double> scaleFactor(const std::string& text) {
    double factor = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, factor, std::chars_format::fixed);
    // The digit test leaves out "inf", "nan" and a sign.
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
        error != std::errc() || stop != end || factor < MouseMotion::kMinScale ||
        factor > MouseMotion::kMaxScale) {
        return std::nullopt;
    }
    return factor;
}

// The name the user wrote an option by: "--keyboard" for a long one (however
// abbreviated), "-k" for a short one.
std::string spelled(int val, const std::string& word) {
    if (word.rfind("--", 0) == 0) {
        for (const option& o : kLongOptions) {
            if (o.name != nullptr && o.val == val) {
                return "--" + std::string(o.name);
            }
        }
    }
    return "-" + std::string(1, static_cast<char>(val));
}

// What getopt_long refused, in words. It sets optopt to the option's
// character for a short option it does not know, for a long option given an
// argument it takes none of, and for an option whose argument is missing
// (then it returns ':'); to 0 for a long option it does not know or cannot
// tell from another. For long options optind has already passed the word.
std::string refusal(int c, char* const* argv) {
    const std::string word = optind > 0 ? argv[optind - 1] : "";
    if (c == ':') {
        return formatted(_("option '%s' needs a value"), spelled(optopt, word));
    }
    if (optopt == 0) {
        // An abbreviation of more than one option (--mou: --mouse, --mouse-port).
        const std::string name = word.substr(2, word.find('=') - 2);
        std::string names;
        for (const option& o : kLongOptions) {
            if (o.name != nullptr && word.rfind("--", 0) == 0 && !name.empty() &&
                std::string(o.name).rfind(name, 0) == 0) {
                names += (names.empty() ? "" : ", ") + std::string("--") + o.name;
            }
        }
        if (names.find(',') != std::string::npos) {
            return formatted(_("option '%s' is ambiguous (%s)"), word, names);
        }
        return formatted(_("unknown option '%s'"), word);
    }
    for (const option& o : kLongOptions) {
        if (o.name != nullptr && o.val == optopt && word.rfind("--", 0) == 0) {
            return formatted(_("option '%s' takes no value"), "--" + std::string(o.name));
        }
    }
    return formatted(_("unknown option '%s'"), "-" + std::string(1, static_cast<char>(optopt)));
}

}  // namespace

Options parseOptions(const std::vector<std::string>& args) {
    // getopt_long permutes argv: it gets copies of the strings it may reorder.
    std::vector<std::string> words{"pellora"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    bool help = false;
    bool version = false;
    bool list = false;
    bool keymapGiven = false;
    bool mouseGiven = false;
    bool mousePortGiven = false;
    std::optional<std::string> mouseScale;
    std::optional<std::string> mouseWheel;
    std::optional<std::string> layout;
    std::optional<std::string> switchKey;
    Options result;
    optind = 0;  // glibc: start afresh, as for a new argv
    opterr = 0;  // the caller prints the error with the usage
    // The leading ':' has a missing value told apart from an unknown option.
    for (int c; (c = getopt_long(argc, argv.data(), ":lhVk:m:", kLongOptions, nullptr)) != -1;) {
        switch (c) {
            case 'l':
                list = true;
                break;
            case 'h':
                help = true;
                break;
            case 'V':
                version = true;
                break;
            case 'k':
                if (*optarg == '\0') {
                    result.error = _("the keyboard's DEVICE is empty");
                    return result;
                }
                for (const std::string& named : result.keyboards) {
                    if (named == optarg) {
                        result.error = formatted(_("the keyboard %s is named twice"), named);
                        return result;
                    }
                }
                result.keyboards.emplace_back(optarg);
                break;
            case kKeymap:
                keymapGiven = true;
                result.keymap = optarg;
                break;
            case kLayout:
                layout = optarg;
                break;
            case kShare:
                result.share = true;
                break;
            case kSwitchKey:
                switchKey = optarg;
                break;
            case 'm':
                mouseGiven = true;
                result.mouse = optarg;
                break;
            case kMousePort:
                mousePortGiven = true;
                result.mousePort = optarg;
                break;
            case kMouseScale:
                mouseScale = optarg;
                break;
            case kMouseWheel:
                mouseWheel = optarg;
                break;
            default:
                result.error = refusal(c, argv.data());
                return result;
        }
    }
    const std::vector<std::string> ports(argv.begin() + optind, argv.end() - 1);
    if (mouseScale) {
        result.mouseScale = scaleFactor(*mouseScale).value_or(result.mouseScale);
    }
    result.mouseWheel = mouseWheel != "none";
    if (layout) {
        result.layout = layoutNamed(*layout).value_or(result.layout);
    }
    if (switchKey) {
        result.switchKey = linuxKeyNamed(*switchKey).value_or(result.switchKey);
    }

    if (keymapGiven && result.keymap.empty()) {
        result.error = _("the key map's FILE is empty");
    } else if (keymapGiven && result.keyboards.empty()) {
        // The X68000 Z keyboard's keys are the X68000's own.
        result.error = _("--keymap is for a keyboard named with --keyboard");
    } else if (layout && !layoutNamed(*layout)) {
        result.error = formatted(_("--layout takes jis, us or uk, not '%s'"), *layout);
    } else if (layout && result.keyboards.empty()) {
        // The X68000 Z keyboard's key tops are the X68000's own.
        result.error = _("--layout is for a keyboard named with --keyboard");
    } else if (result.share && result.keyboards.empty()) {
        // The X68000 Z keyboard is the X68000's alone.
        result.error = _("--share is for keyboards named with --keyboard");
    } else if (switchKey && !linuxKeyNamed(*switchKey)) {
        result.error =
            formatted(_("--switch-key takes a Linux key's name (SCROLLLOCK, PAUSE, ...), not '%s'"),
                      *switchKey);
    } else if (switchKey && !result.share) {
        result.error = _("--switch-key is for --share");
    } else if (mouseGiven && result.mouse.empty()) {
        result.error = _("the mouse's DEVICE is empty");
    } else if (mousePortGiven && result.mousePort.empty()) {
        result.error = _("the mouse's PORT2 is empty");
    } else if (mouseGiven && !mousePortGiven) {
        // The key line cannot carry it: 2400 baud against the mouse's 4800.
        result.error = _("--mouse needs --mouse-port=PORT2, the serial port wired to MSDATA");
    } else if (mousePortGiven && !mouseGiven) {
        result.error = _("--mouse-port needs --mouse=DEVICE, the mouse to relay");
    } else if (mouseScale && !scaleFactor(*mouseScale)) {
        result.error =
            formatted(_("--mouse-scale takes a decimal from 0.1 to 10, not '%s'"), *mouseScale);
    } else if (mouseWheel && *mouseWheel != "roll" && *mouseWheel != "none") {
        result.error = formatted(_("--mouse-wheel takes roll or none, not '%s'"), *mouseWheel);
    } else if (mouseScale && !mouseGiven) {
        result.error = _("--mouse-scale needs --mouse=DEVICE, the mouse to relay");
    } else if (mouseWheel && !mouseGiven) {
        result.error = _("--mouse-wheel needs --mouse=DEVICE, the mouse to relay");
    } else if (help) {
        result.action = Options::Action::Help;
    } else if (version) {
        result.action = Options::Action::Version;
    } else if (list) {
        result.action = Options::Action::List;
    } else if (ports.size() > 1) {
        result.error = _("only one PORT may be given");
    } else if (ports.size() == 1 && ports[0].empty()) {
        result.error = _("PORT is empty");
    } else if (ports.size() == 1) {
        result.action = Options::Action::Run;
        result.port = ports[0];
    }
    return result;
}

std::string mousePortRefusal(const Options& options) {
    if (options.mouse.empty()) {
        return "";
    }
    const std::string port = SerialPort::devicePath(options.port);
    const std::string port2 = SerialPort::devicePath(options.mousePort);
    bool same = !port.empty() && port == port2;
    struct stat a {};
    struct stat b {};
    if (!same && !port.empty() && !port2.empty() && ::stat(port.c_str(), &a) == 0 &&
        ::stat(port2.c_str(), &b) == 0) {
        // What the names lead to: one device node however it is reached.
        same = S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)
                   ? a.st_rdev == b.st_rdev
                   : a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    }
    return same ? _("--mouse-port names PORT itself: the mouse needs a serial port of its own")
                : "";
}
