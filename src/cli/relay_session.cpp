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
            return " (is this user in the group that owns it: dialout, or uucp on Arch?)";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return " (pellora --list shows the ports present)";
        case EBUSY:
            return " (perhaps another pellora)";
        default:
            return "";
    }
}

// What the user can do about a keyboard that would not open.
std::string keyboardFailureReason(const RelayStatus& s) {
    switch (s.keyboardFailure) {
        case UsbKeyboard::Failure::NoPermission:
            return "This user may not use it: install the udev rule 70-pellora.rules and add "
                   "the user to group pellora (then log in again and replug the keyboard), or "
                   "run pellora as root.";
        case UsbKeyboard::Failure::Busy:
            return "Another program holds it, perhaps another pellora.";
        default:
            return refusalReason(s) + ".";
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

void tellPortFailure(std::ostream& err, const std::string& port,
                     const SerialPort::OpenError& error) {
    const std::string device = SerialPort::devicePath(port);
    const std::string reason = error.message.empty() ? "unknown error" : error.message;
    err << "cannot open " << (device.empty() ? port : device) << ": " << reason
        << openFailureHint(error.code) << "\n";
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
                    const WaitForEvent& waitForEvent) {
    // A port that cannot be had ends the run before the keyboard is taken
    // from the console (under a service's Restart=, every few seconds).
    if (const SerialPort::OpenError error = relay.checkPort(port); error.code != 0) {
        tellPortFailure(err, port, error);
        return kExitFailure;
    }
    bool hadKeyboard = relay.openKeyboard();
    RelayStatus status = relay.status();
    if (status.keyboard == KeyboardState::Refused) {
        err << kKeyboardFailed << "\n" << keyboardFailureReason(status) << "\n";
        return shutDown(relay, kExitFailure);
    }
    if (!hadKeyboard) {
        err << kWaitingForKeyboard << "\n";
    }

    const std::string device = SerialPort::devicePath(port);
    relay.start(port);
    // The worker opens the port itself; wait for its verdict.
    status = relay.status();
    while (status.port == PortState::Opening || status.port == PortState::Idle) {
        if (const int sig = waitForEvent()) {
            err << "Stopped by " << signalName(sig) << ".\n";
            return shutDown(relay, kExitOk);
        }
        status = relay.status();
    }
    if (status.port == PortState::Failed) {  // taken meanwhile
        tellPortFailure(err, port, status.portError);
        return shutDown(relay, kExitFailure);
    }
    err << "Relaying the X68000 Z keyboard to " << device << ".\n";

    // What the user was last told: the keyboard as at start, the port open.
    KeyboardState shownKeyboard = hadKeyboard ? KeyboardState::Connected : KeyboardState::Absent;
    std::string shownRefusal;
    PortState shownPort = PortState::Open;
    for (;;) {
        if (!hadKeyboard && status.keyboard == KeyboardState::Refused) {
            // Plugged in at last, but not ours to open: as at start.
            err << kKeyboardFailed << "\n" << keyboardFailureReason(status) << "\n";
            return shutDown(relay, kExitFailure);
        }
        // One line per change: connected, gone, or refused (again when the
        // reason changes); a keyboard refused then gone says nothing more.
        if (status.keyboard == KeyboardState::Connected && shownKeyboard != status.keyboard) {
            err << "Keyboard connected.\n";
            hadKeyboard = true;
        } else if (status.keyboard == KeyboardState::Absent &&
                   shownKeyboard == KeyboardState::Connected) {
            err << "Keyboard disconnected; waiting for it.\n";
        } else if (status.keyboard == KeyboardState::Refused &&
                   (shownKeyboard != status.keyboard || shownRefusal != refusalReason(status))) {
            shownRefusal = refusalReason(status);
            err << "Keyboard refused: " << shownRefusal << "; waiting for it.\n";
        }
        shownKeyboard = status.keyboard;
        if (status.port != shownPort) {
            if (status.port == PortState::Reopening && shownPort == PortState::Open) {
                err << "Lost " << port << "; waiting for it.\n";
            } else if (status.port == PortState::OtherDevice) {
                err << port << " is another device now; waiting for the one it was.\n";
            } else if (status.port == PortState::Open) {
                err << port << " is back.\n";
            }
            shownPort = status.port;
        }
        if (const int sig = waitForEvent()) {
            err << "Stopped by " << signalName(sig) << ".\n";
            return shutDown(relay, kExitOk);
        }
        status = relay.status();
    }
}
