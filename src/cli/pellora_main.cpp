// pellora: relays the X68000 Z keyboard to an X68000 on a serial port.
// This file only joins the pieces: the command line, the port list, and for a
// run the stop signals, the single-instance lock and the relay session.
#include <iostream>
#include <string>
#include <vector>

#include "cli/command_text.h"
#include "cli/exit_codes.h"
#include "cli/instance_lock.h"
#include "cli/options.h"
#include "cli/relay_session.h"
#include "cli/serial_port_list.h"
#include "cli/stop_signals.h"
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
    StopSignals stopSignals;

    InstanceLock lock;
    switch (lock.acquire(InstanceLock::defaultPath())) {
        case InstanceLock::Outcome::Acquired:
            break;
        case InstanceLock::Outcome::HeldElsewhere:
            std::cerr << "pellora is already running\n";
            return kExitFailure;
        case InstanceLock::Outcome::Failed:
            std::cerr << lock.failure() << "\n";
            return kExitFailure;
    }

    KeyRelay relay;
    return runRelaySession(relay, port, std::cerr,
                           [&](std::chrono::milliseconds t) { return stopSignals.wait(t); });
}

}  // namespace

int main(int argc, char** argv) {
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
