// pellora: relays the X68000 Z keyboard to an X68000 on a serial port.
// This file only joins the pieces: the command line, the port list, and for a
// run the stop signals, the relay session and what systemd is told of it. No
// lock file keeps a second pellora out: the keyboard's interfaces and the port
// are each held exclusively, so a second one finds one of them in use and
// says so.
#include <signal.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/command_text.h"
#include "cli/exit_codes.h"
#include "cli/options.h"
#include "cli/relay_session.h"
#include "cli/run_events.h"
#include "cli/serial_port_list.h"
#include "cli/service_notifier.h"
#include "relay/key_relay.h"

namespace {

int listPorts() {
    const std::vector<PortEntry> ports = listSerialPorts();
    if (ports.empty()) {
        std::cerr << kNoSerialPort << "\n";
        return kExitFailure;
    }
    writePortList(std::cout, ports);
    return kExitOk;
}

int run(const std::string& port) {
    // Before any thread exists, so that every thread inherits the blocked mask.
    RunEvents events;
    KeyRelay relay;
    relay.setStatusListener(events.statusListener());
    // systemd, when it started us, hears of the session through its waits.
    ServiceNotifier service(relay, port, ServiceNotifier::systemdSink(),
                            ServiceNotifier::systemdWatchdog());
    return runRelaySession(relay, port, std::cerr, [&] {
        return service.wait([&](int timeoutMs) { return events.wait(timeoutMs); });
    });
}

}  // namespace

int main(int argc, char** argv) {
    // A reader of stderr that has gone (pellora 2>&1 | tee log, then Ctrl-C)
    // must not kill pellora before it has handed the keyboard back.
    signal(SIGPIPE, SIG_IGN);
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
            return listPorts();
        case Options::Action::Run:
            return run(options.port);
        case Options::Action::Usage:
            break;
    }
    writeUsage(std::cerr, options.error, listSerialPorts());
    return kExitUsage;
}
