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

// What the session says of its keyboard: the X68000 Z keyboard, or an input
// device by its path.
struct KeyboardWords {
    const std::string& inputDevice;  // empty: the X68000 Z keyboard

    bool isInputDevice() const { return !inputDevice.empty(); }

    std::string failed() const {
        return isInputDevice() ? "Failed to open the keyboard " + inputDevice + "."
                               : kKeyboardFailed;
    }
    std::string waiting() const {
        return isInputDevice() ? "Waiting for the keyboard " + inputDevice + "..."
                               : kWaitingForKeyboard;
    }
    std::string relayed() const {
        return isInputDevice() ? "the keyboard " + inputDevice : "the X68000 Z keyboard";
    }

    // Why it is refused, for "Keyboard refused: ...": the X68000 Z keyboard's
    // other errors are libusb's.
    std::string refusal(const RelayStatus& s) const {
        const bool other = s.keyboardFailure != KeyboardConnection::Failure::NoPermission &&
                           s.keyboardFailure != KeyboardConnection::Failure::Busy;
        return other && !isInputDevice() ? "libusb says " + refusalReason(s) : refusalReason(s);
    }

    // Whether a refusal before the keyboard was ever opened ends the run. An
    // input device that another program holds is waited for.
    bool endsTheRun(const RelayStatus& s) const {
        return s.keyboard == KeyboardState::Refused &&
               (!isInputDevice() || s.keyboardFailure != KeyboardConnection::Failure::Busy);
    }

    // What the user can do about a keyboard that would not open.
    std::string advice(const RelayStatus& s) const {
        switch (s.keyboardFailure) {
            case KeyboardConnection::Failure::NoPermission:
                if (isInputDevice()) {
                    // Debian, Raspberry Pi OS, Fedora and Arch give input devices to
                    // group input.
                    return "This user may not read it: add the user to group input (sudo "
                           "usermod -aG input $USER, then log in again), or run pellora as "
                           "root.";
                }
                return "This user may not use it: install the udev rule 70-pellora.rules and "
                       "add the user to group pellora (then log in again and replug the "
                       "keyboard), or run pellora as root.";
            case KeyboardConnection::Failure::Busy:
                return "Another program holds it, perhaps another pellora.";
            default: {
                std::string reason = refusal(s);
                if (isInputDevice() && !reason.empty() && reason[0] >= 'a' && reason[0] <= 'z') {
                    reason[0] = static_cast<char>(reason[0] - 'a' + 'A');
                }
                return reason + ".";
            }
        }
    }
};

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
                    const WaitForEvent& waitForEvent, const std::string& inputDevice) {
    // A port that cannot be had ends the run before the keyboard is taken
    // from the console (under a service's Restart=, every few seconds).
    if (const SerialPort::OpenError error = relay.checkPort(port); error.code != 0) {
        tellPortFailure(err, port, error);
        return kExitFailure;
    }
    const KeyboardWords keyboard{inputDevice};
    bool hadKeyboard = relay.openKeyboard();
    RelayStatus status = relay.status();
    if (keyboard.endsTheRun(status)) {
        err << keyboard.failed() << "\n" << keyboard.advice(status) << "\n";
        return shutDown(relay, kExitFailure);
    }
    // What the user was last told of the keyboard.
    KeyboardState shownKeyboard = hadKeyboard ? KeyboardState::Connected : KeyboardState::Absent;
    std::string shownRefusal;
    if (status.keyboard == KeyboardState::Refused) {
        shownKeyboard = KeyboardState::Refused;
        shownRefusal = keyboard.refusal(status);
        err << "Keyboard refused: " << shownRefusal << "; waiting for it.\n";
    } else if (!hadKeyboard) {
        err << keyboard.waiting() << "\n";
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
    err << "Relaying " << keyboard.relayed() << " to " << device << ".\n";

    PortState shownPort = PortState::Open;  // as the user was told
    for (;;) {
        if (!hadKeyboard && keyboard.endsTheRun(status)) {
            // Plugged in at last, but not ours to open: as at start.
            err << keyboard.failed() << "\n" << keyboard.advice(status) << "\n";
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
                   (shownKeyboard != status.keyboard || shownRefusal != keyboard.refusal(status))) {
            shownRefusal = keyboard.refusal(status);
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
