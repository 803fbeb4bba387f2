#include "cli/options.h"

#include <getopt.h>

namespace {

// --keymap has no short form: its getopt value is past every character.
constexpr int kKeymap = 0x100;

const option kLongOptions[] = {
    {"list", no_argument, nullptr, 'l'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"keyboard", required_argument, nullptr, 'k'},
    {"keymap", required_argument, nullptr, kKeymap},
    {nullptr, 0, nullptr, 0},
};

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
        return "option '" + spelled(optopt, word) + "' needs a value";
    }
    if (optopt == 0) {
        return "unknown option '" + word + "'";
    }
    for (const option& o : kLongOptions) {
        if (o.name != nullptr && o.val == optopt && word.rfind("--", 0) == 0) {
            return "option '--" + std::string(o.name) + "' takes no value";
        }
    }
    return "unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'";
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
    bool keyboardGiven = false;
    bool keymapGiven = false;
    Options result;
    optind = 0;  // glibc: start afresh, as for a new argv
    opterr = 0;  // the caller prints the error with the usage
    // The leading ':' has a missing value told apart from an unknown option.
    for (int c; (c = getopt_long(argc, argv.data(), ":lhVk:", kLongOptions, nullptr)) != -1;) {
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
                keyboardGiven = true;
                result.keyboard = optarg;
                break;
            case kKeymap:
                keymapGiven = true;
                result.keymap = optarg;
                break;
            default:
                result.error = refusal(c, argv.data());
                return result;
        }
    }
    const std::vector<std::string> ports(argv.begin() + optind, argv.end() - 1);

    if (keyboardGiven && result.keyboard.empty()) {
        result.error = "the keyboard's DEVICE is empty";
    } else if (keymapGiven && result.keymap.empty()) {
        result.error = "the key map's FILE is empty";
    } else if (keymapGiven && !keyboardGiven) {
        // The X68000 Z keyboard's keys are the X68000's own.
        result.error = "--keymap is for a keyboard named with --keyboard";
    } else if (help) {
        result.action = Options::Action::Help;
    } else if (version) {
        result.action = Options::Action::Version;
    } else if (list) {
        result.action = Options::Action::List;
    } else if (ports.size() > 1) {
        result.error = "only one PORT may be given";
    } else if (ports.size() == 1 && ports[0].empty()) {
        result.error = "PORT is empty";
    } else if (ports.size() == 1) {
        result.action = Options::Action::Run;
        result.port = ports[0];
    }
    return result;
}
