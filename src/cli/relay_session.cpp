#include "cli/relay_session.h"

#include <signal.h>

#include <cerrno>

#include "cli/exit_codes.h"
#include "io/serial_port.h"

namespace {

// What the user can do about a port that would not open, by its errno.
const char* openFailureHint(int code) {
    switch (code) {
        case EACCES:
        case EPERM:
            return " (is the user in group dialout?)";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return " (pellora --list shows the ports present)";
        case EBUSY:
            return " (is another program using it?)";
        default:
            return "";
    }
}

const char* signalName(int sig) {
    switch (sig) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

// The one way out once the keyboard is open: the worker goes first, since it
// handles the keyboard's transfers while it runs.
int shutDown(RelayControl& relay, int exitCode) {
    relay.stop();
    relay.closeKeyboard();
    return exitCode;
}

}  // namespace

int runRelaySession(RelayControl& relay, const std::string& port, std::ostream& err,
                    const StopWait& waitForStop) {
    if (!relay.openKeyboard()) {
        err << kKeyboardFailed << "\n"
            << "Check that it is plugged in, that this user may use it (install the udev rule "
               "70-pellora.rules, or run as root), and that no other program holds it.\n";
        return kExitFailure;
    }

    const std::string device = SerialPort::devicePath(port);
    relay.start(port);
    // The worker opens the port itself; wait for its verdict.
    RelayStatus status = relay.status();
    while (status.port == PortState::Opening || status.port == PortState::Idle) {
        if (const int sig = waitForStop(kStatusPollInterval)) {
            err << "Stopped by " << signalName(sig) << ".\n";
            return shutDown(relay, kExitOk);
        }
        status = relay.status();
    }
    if (status.port == PortState::OpenFailed) {
        const std::string reason =
            status.openError.message.empty() ? "unknown error" : status.openError.message;
        err << "cannot open " << device << ": " << reason << openFailureHint(status.openError.code)
            << "\n";
        return shutDown(relay, kExitFailure);
    }

    err << "Relaying the X68000 Z keyboard to " << device << ".\n";
    for (;;) {
        // A port lost at once is still reported: the status is read before waiting.
        if (!status.usbActive) {
            err << "The X68000 Z keyboard was disconnected.\n";
            return shutDown(relay, kExitKeyboardLost);
        }
        if (status.port == PortState::Lost) {
            err << "The serial device " << device << " went away.\n";
            return shutDown(relay, kExitPortLost);
        }
        if (const int sig = waitForStop(kStatusPollInterval)) {
            err << "Stopped by " << signalName(sig) << ".\n";
            return shutDown(relay, kExitOk);
        }
        status = relay.status();
    }
}
