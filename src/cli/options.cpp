#include "cli/options.h"

#include <getopt.h>

namespace {

const option kLongOptions[] = {
    {"list", no_argument, nullptr, 'l'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// What getopt_long refused, in words. It sets optopt to the option's
// character for a short option it does not know and for a long option given
// an argument; to 0 for a long option it does not know or cannot tell from
// another. For long options optind has already passed the word.
std::string refusal(char* const* argv) {
    const std::string word = optind > 0 ? argv[optind - 1] : "";
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
    Options result;
    optind = 0;  // glibc: start afresh, as for a new argv
    opterr = 0;  // the caller prints the error with the usage
    for (int c; (c = getopt_long(argc, argv.data(), "lhV", kLongOptions, nullptr)) != -1;) {
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
            default:
                result.error = refusal(argv.data());
                return result;
        }
    }
    const std::vector<std::string> ports(argv.begin() + optind, argv.end() - 1);

    if (help) {
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
