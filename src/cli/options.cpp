#include "cli/options.h"

Options parseOptions(const std::vector<std::string>& args) {
    bool help = false;
    bool version = false;
    bool list = false;
    bool optionsEnded = false;
    std::vector<std::string> ports;
    Options result;

    for (const std::string& arg : args) {
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--") {
                optionsEnded = true;
            } else if (arg == "-h" || arg == "--help") {
                help = true;
            } else if (arg == "-V" || arg == "--version") {
                version = true;
            } else if (arg == "-l" || arg == "--list") {
                list = true;
            } else {
                result.error = "unknown option '" + arg + "'";
                return result;
            }
        } else {
            ports.push_back(arg);
        }
    }

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
