// pellora: relays a keyboard to an X68000 on a serial port: the X68000 Z
// keyboard, or with --keyboard any keyboards of Linux's input layer, several
// at once; and with --mouse a mouse of the input layer, its packets on a
// second port.
// This file only joins the pieces: the command line, the key map, the port and
// input device lists, and for a run the stop signals, the relay session and
// what systemd is told of it. No lock file keeps a second pellora out: the
// keyboard (its interfaces, or the input device's grab) and the port are each
// held exclusively, so a second one finds one of them in use and says so.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_text.h"
#include "cli/exit_codes.h"
#include "cli/input_device_list.h"
#include "cli/options.h"
#include "cli/relay_session.h"
#include "cli/run_events.h"
#include "cli/serial_port_list.h"
#include "cli/service_notifier.h"
#include "cli/translation.h"
#include "input/input_device_name.h"
#include "input/input_keyboard.h"
#include "input/input_mouse.h"
#include "input/key_translator.h"
#include "input/keymap_file.h"
#include "relay/key_relay.h"

namespace {

// The serial ports, then the input devices that --keyboard takes. No serial
// port is still a failure: there is nothing to relay to.
int listDevices() {
    const std::vector<PortEntry> ports = listSerialPorts();
    if (ports.empty()) {
        std::cerr << noSerialPort() << "\n";
    }
    writePortList(std::cout, ports);
    writePortList(std::cout, listInputDevices());
    return ports.empty() ? kExitFailure : kExitOk;
}

// Whether udev sends news of devices added: where udevd runs (its control
// socket is there). Elsewhere (a container, an initramfs) a monitor would
// hear nothing, and the relay looks for a returning keyboard by trying
// instead, every 0.9 s (as the program's own tests, under an emulated udev
// that leaves /run alone, do).
bool udevSendsNews() {
    return access("/run/udev/control", F_OK) == 0;
}

// The node a keyboard or mouse as given leads to now: its path, or the one
// node that its id or name fits ("" for none, or several).
std::string nodeNow(const std::string& device, InputDeviceName::Kind kind) {
    const InputDeviceName name(device, kind);
    if (!name.isLabel()) {
        return name.path();
    }
    const InputDeviceName::Found found = name.present();
    return found.nodes.size() == 1 ? found.nodes.front() : "";
}

// Whether a keyboard and the mouse as given are one device: the same path, or
// names that lead to the same node (event4 and a by-id link to it, or the id
// that both fit). An id or name that fits no device now is taken for two: a
// Bluetooth keyboard's touchpad is a node of its own with the same id.
bool sameInputDevice(const std::string& keyboard, const std::string& mouse) {
    const std::string pathA = nodeNow(keyboard, InputDeviceName::Kind::Keyboard);
    const std::string pathB = nodeNow(mouse, InputDeviceName::Kind::Mouse);
    if (pathA.empty() || pathB.empty()) {
        return false;
    }
    if (pathA == pathB) {
        return true;
    }
    struct stat statA {};
    struct stat statB {};
    return ::stat(pathA.c_str(), &statA) == 0 && ::stat(pathB.c_str(), &statB) == 0 &&
           statA.st_dev == statB.st_dev && statA.st_ino == statB.st_ino;
}

// A keyboard's or the mouse's id or name that fits several devices present
// names none of them: why, as the command line's error; "" when none does.
std::string ambiguousDevice(const Options& options) {
    for (const std::string& keyboard : options.keyboards) {
        if (std::string why =
                InputDeviceName(keyboard, InputDeviceName::Kind::Keyboard).ambiguity();
            !why.empty()) {
            return why;
        }
    }
    return options.mouse.empty()
               ? ""
               : InputDeviceName(options.mouse, InputDeviceName::Kind::Mouse).ambiguity();
}

int run(const Options& options, const KeyTranslator& keys) {
    // Before any thread exists, so that every thread inherits the blocked mask.
    RunEvents events;
    const bool watchHotplug = udevSendsNews();
    // Shared with the computer: the switch the keyboards and the mouse follow.
    std::shared_ptr<ShareSwitch> share;
    if (options.share) {
        share = std::make_shared<ShareSwitch>(options.switchKey, keyCalled(options.switchKey));
    }
    SessionDevices devices;
    // Each keyboard's node, for a mouse that is one of them.
    std::vector<std::shared_ptr<InputNode>> nodes;
    std::unique_ptr<KeyRelay> relay;
    for (const std::string& device : options.keyboards) {
        const auto makeKeyboard = [&](ByteQueue& keyQueue, std::function<void()> keysQueued) {
            auto node =
                std::make_shared<InputNode>(device, InputDeviceName::Kind::Keyboard, watchHotplug);
            auto keyboard =
                std::make_unique<InputKeyboard>(keyQueue, node, keys, std::move(keysQueued), share);
            devices.keyboards.push_back(keyboard->path());
            nodes.push_back(std::move(node));
            return keyboard;
        };
        if (relay) {
            relay->addKeyboard(makeKeyboard);
        } else {
            relay = std::make_unique<KeyRelay>(makeKeyboard);
        }
    }
    if (!relay) {
        relay = std::make_unique<KeyRelay>();  // the X68000 Z keyboard
    } else if (share) {
        // The X68000's own keyboard, where it is plugged in, types there
        // whatever the switch.
        relay->addKeyboard(KeyRelay::x68000ZKeyboard());
    }
    if (share) {
        relay->setShare(share);
        devices.switchKey = share->switchKeyName();
    }
    // Without --mouse nothing of a mouse is made. A mouse that is one of the
    // keyboards (a keyboard with a touchpad on one node) reads that
    // keyboard's node: opened and grabbed once, and lost and found as one.
    if (!options.mouse.empty()) {
        std::shared_ptr<InputNode> node;
        for (std::size_t i = 0; i < options.keyboards.size() && !node; ++i) {
            if (sameInputDevice(options.keyboards[i], options.mouse)) {
                node = nodes[i];
            }
        }
        if (!node) {
            node = std::make_shared<InputNode>(options.mouse, InputDeviceName::Kind::Mouse,
                                               watchHotplug);
        }
        auto device = std::make_unique<InputMouse>(node, options.mouseScale, share);
        devices.mouse = {device->path(), options.mousePort};
        relay->addMouse(std::move(device), options.mousePort, options.mouseWheel);
    }
    const std::string& port = options.port;
    relay->setStatusListener(events.statusListener());
    // systemd, when it started us, hears of the session through its waits.
    ServiceNotifier service(*relay, port, ServiceNotifier::systemdSink(),
                            ServiceNotifier::systemdWatchdog(), systemTickMs, options.mousePort,
                            devices.keyboards);
    return runRelaySession(
        *relay, port, std::cerr,
        [&] { return service.wait([&](int timeoutMs) { return events.wait(timeoutMs); }); },
        devices);
}

}  // namespace

int main(int argc, char** argv) {
    // A reader of stderr that has gone (pellora 2>&1 | tee log, then Ctrl-C)
    // must not kill pellora before it has handed the keyboard back.
    signal(SIGPIPE, SIG_IGN);
    // Messages in the user's language; systemd's status stays English.
    openMessageCatalogue();
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    const Options options = parseOptions(args);
    switch (options.action) {
        case Options::Action::Help:
            writeHelp(std::cout);
            return kExitOk;
        case Options::Action::Version:
            writeVersion(std::cout);
            return kExitOk;
        case Options::Action::List:
            return listDevices();
        case Options::Action::Run: {
            if (const std::string refused = mousePortRefusal(options); !refused.empty()) {
                writeUsage(std::cerr, refused, listSerialPorts());
                return kExitUsage;
            }
            if (const std::string refused = ambiguousDevice(options); !refused.empty()) {
                std::cerr << "pellora: " << printable(refused) << "\n";
                return kExitUsage;
            }
            // The whole file or nothing, before anything is opened: on top of
            // the layout's places.
            InputKeyMap map = layoutKeyMap(options.layout);
            if (!options.keymap.empty()) {
                if (const auto error = loadKeymapFile(options.keymap, map)) {
                    std::cerr << "pellora: " << printable(*error) << "\n";
                    return kExitUsage;
                }
            }
            return run(options, KeyTranslator(map, options.layout));
        }
        case Options::Action::Usage:
            break;
    }
    writeUsage(std::cerr, options.error, listSerialPorts());
    return kExitUsage;
}
