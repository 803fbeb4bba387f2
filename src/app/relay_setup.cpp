#include "app/relay_setup.h"

#include <linux/input-event-codes.h>

#include "input/keymap_file.h"

RelaySetup::RelaySetup() : switchKey(KEY_SCROLLLOCK) {}

std::optional<std::string> setupFromCommandLine(const CommandLine& line, RelaySetup& setup) {
    if (!line.error.empty()) {
        return line.error + ".";
    }
    RelaySetup wanted;
    wanted.share = line.share;
    wanted.mousePort = line.mousePort;
    if (!line.switchKey.empty()) {
        const auto key = linuxKeyNamed(line.switchKey);
        if (!key || *key == 0) {
            return "--switch-key=" + line.switchKey +
                   ": not a key name (a Linux key name, as key map files take them: "
                   "SCROLLLOCK, PAUSE, RIGHTCTRL).";
        }
        wanted.switchKey = *key;
    }
    if (!line.layout.empty()) {
        const auto layout = layoutNamed(line.layout);
        if (!layout) {
            return "--layout=" + line.layout + ": not a layout (jis, us or uk).";
        }
        wanted.layout = *layout;
    }
    if (!wanted.mousePort.empty() && wanted.mousePort == line.port) {
        return "--mouse-port=" + wanted.mousePort +
               " is the keyboard's port: the mouse needs a port of its own.";
    }
    setup = wanted;
    return std::nullopt;
}
