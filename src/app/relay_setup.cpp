#include "app/relay_setup.h"

#include <linux/input-event-codes.h>

#include "app/resource.h"
#include "app/ui_text.h"
#include "input/keymap_file.h"

namespace {

// What is wrong with the options, in a sentence.
std::string commandLineError(const CommandLine& line) {
    const std::string& option = line.errorOption;
    switch (line.error) {
        case CommandLine::Error::UnknownOption:
            return uiText(IDS_OPTION_UNKNOWN, {option});
        case CommandLine::Error::NeedsValue:
            return uiText(IDS_OPTION_NEEDS_VALUE, {option, option == "--mouse-port" ? "COM4"
                                                           : option == "--layout"   ? "us"
                                                                                    : "PAUSE"});
        case CommandLine::Error::GivenTwice:
            return uiText(IDS_OPTION_TWICE, {option});
        default:
            return uiText(IDS_OPTION_WITHOUT_SHARE, {option});
    }
}

}  // namespace

RelaySetup::RelaySetup() : switchKey(KEY_SCROLLLOCK) {}

std::optional<std::string> setupFromCommandLine(const CommandLine& line, RelaySetup& setup) {
    if (line.error != CommandLine::Error::None) {
        return commandLineError(line);
    }
    RelaySetup wanted;
    wanted.share = line.share;
    wanted.mousePort = line.mousePort;
    if (!line.switchKey.empty()) {
        const auto key = linuxKeyNamed(line.switchKey);
        if (!key || *key == 0) {
            return uiText(IDS_NOT_A_KEY_NAME, {line.switchKey});
        }
        wanted.switchKey = *key;
    }
    if (!line.layout.empty()) {
        const auto layout = layoutNamed(line.layout);
        if (!layout) {
            return uiText(IDS_NOT_A_LAYOUT, {line.layout});
        }
        wanted.layout = *layout;
    }
    if (!wanted.mousePort.empty() && wanted.mousePort == line.port) {
        return uiText(IDS_PORT_IS_KEYBOARDS, {"--mouse-port=" + wanted.mousePort});
    }
    setup = wanted;
    return std::nullopt;
}
