#include "cli/relay_session.h"

#include <signal.h>

#include <cerrno>
#include <optional>

#include "cli/exit_codes.h"
#include "cli/translation.h"
#include "io/serial_port.h"

namespace {

// The words the layers below give for a device or a port that would not open,
// which the catalogue translates as they come: gettext finds a message by its
// English text. Listed here for xgettext; the system's own texts (strerror's,
// which glibc translates itself, libusb's) pass unchanged.
[[maybe_unused]] constexpr const char* kWordsFromBelow[] = {
    N_("no permission"),
    N_("another program holds it"),
    N_("it failed"),
    N_("not a keyboard: it has no key the X68000 has"),
    N_("not a mouse: it has no relative motion"),
    N_("not a terminal"),
    N_("in use by another program"),
    N_("not a port name (a name that --list shows, or an absolute path)"),
    N_("not a line speed and stop bits this port offers"),
};

// english in the user's language, where the catalogue has it.
std::string translated(const std::string& english) {
    // gettext("") is the catalogue's header, not an empty message.
    return english.empty() ? english : gettext(english.c_str());
}

// Why a device is refused, in words: refusalReason()'s, translated.
std::string reasonFor(KeyboardConnection::Failure failure, const std::string& text) {
    return translated(refusalReason(failure, text));
}

// What the user can do about a port that would not open, by its errno.
const char* openFailureHint(int code) {
    switch (code) {
        case EACCES:
        case EPERM:
            return _(" (is this user in the group that owns it: dialout, or uucp on Arch?)");
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return _(" (pellora --list shows the ports present)");
        case EBUSY:
            return _(" (perhaps another pellora)");
        default:
            return "";
    }
}

// What the user can do about an input device or the X68000 Z keyboard that
// would not open, for failure, whose reason in words is reason.
std::string adviceFor(KeyboardConnection::Failure failure, std::string reason, bool inputDevice) {
    switch (failure) {
        case KeyboardConnection::Failure::NoPermission:
            if (inputDevice) {
                // Debian, Raspberry Pi OS, Fedora and Arch give input devices to
                // group input.
                return _(
                    "This user may not read it: add the user to group input (sudo "
                    "usermod -aG input $USER, then log in again), or run pellora as "
                    "root.");
            }
            return _(
                "This user may not use it: install the udev rule 70-pellora.rules and "
                "add the user to group pellora (then log in again and replug the "
                "keyboard), or run pellora as root.");
        case KeyboardConnection::Failure::Busy:
            return _("Another program holds it, perhaps another pellora.");
        default:
            if (inputDevice && !reason.empty() && reason[0] >= 'a' && reason[0] <= 'z') {
                reason[0] = static_cast<char>(reason[0] - 'a' + 'A');
            }
            // TRANSLATORS: a reason as a sentence of its own.
            return formatted(_("%s."), reason);
    }
}

// What the session says of one keyboard: the X68000 Z keyboard, or an input
// device by its path.
struct KeyboardWords {
    std::string inputDevice;  // empty: the X68000 Z keyboard
    bool named = false;       // one of several: its lines name it
    bool extra = false;       // the X68000 Z keyboard beside shared ones: where plugged in

    bool isInputDevice() const { return !inputDevice.empty(); }

    std::string failed() const {
        return isInputDevice() ? formatted(_("Failed to open the keyboard %s."), inputDevice)
                               : _("Failed to initialize the X68000 Z keyboard.");
    }
    std::string waiting() const {
        return isInputDevice() ? formatted(_("Waiting for the keyboard %s..."), inputDevice)
                               : _("Waiting for the X68000 Z keyboard (USB 33DD:0011)...");
    }
    // "Keyboard", or "Keyboard DEVICE" for one of several: how its lines begin.
    std::string noun() const {
        return !isInputDevice() && named ? _("X68000 Z keyboard")
               : named                   ? formatted(_("Keyboard %s"), inputDevice)
                                         : _("Keyboard");
    }

    // Why it is refused, for "Keyboard refused: ...": the X68000 Z keyboard's
    // other errors are libusb's.
    std::string refusal(const KeyboardStatus& s) const {
        const bool other = s.failure != KeyboardConnection::Failure::NoPermission &&
                           s.failure != KeyboardConnection::Failure::Busy;
        const std::string reason = reasonFor(s.failure, s.failureText);
        return other && !isInputDevice() ? formatted(_("libusb says %s"), reason) : reason;
    }

    // Whether a refusal before the keyboard was ever opened ends the run. An
    // input device that another program holds is waited for.
    bool endsTheRun(const KeyboardStatus& s) const {
        return !extra && s.state == KeyboardState::Refused &&
               (!isInputDevice() || s.failure != KeyboardConnection::Failure::Busy);
    }

    std::string advice(const KeyboardStatus& s) const {
        return adviceFor(s.failure, refusal(s), isInputDevice());
    }
};

// "the X68000 Z keyboard", "the keyboard A", "the keyboards A and B",
// "the keyboards A, B and C".
std::string relayedWords(const std::vector<std::string>& inputDevices) {
    if (inputDevices.empty()) {
        return _("the X68000 Z keyboard");
    }
    if (inputDevices.size() == 1) {
        return formatted(_("the keyboard %s"), inputDevices[0]);
    }
    std::string list = inputDevices[0];
    for (std::size_t i = 1; i < inputDevices.size(); ++i) {
        list = formatted(i + 1 == inputDevices.size() ? _("%s and %s") : _("%s, %s"), list,
                         inputDevices[i]);
    }
    return formatted(_("the keyboards %s"), list);
}

// What the user was last told of a device (the keyboard, the mouse), and the
// one line each change gets: connected, gone, or refused (again when the
// reason changes); a device refused then gone says nothing more.
struct DeviceShown {
    std::string noun;  // "Keyboard", "Keyboard /dev/input/event3", "Mouse"
    KeyboardState state;
    std::string refusal;

    void tell(std::ostream& err, KeyboardState now, const std::string& reason) {
        if (now == KeyboardState::Connected && state != now) {
            err << formatted(_("%s connected."), noun) << "\n";
        } else if (now == KeyboardState::Absent && state == KeyboardState::Connected) {
            err << formatted(_("%s disconnected; waiting for it."), noun) << "\n";
        } else if (now == KeyboardState::Refused && (state != now || refusal != reason)) {
            refusal = reason;
            err << formatted(_("%s refused: %s; waiting for it."), noun, reason) << "\n";
        }
        state = now;
    }
};

// The same for a port (the key line, the mouse's), named as given.
struct PortShown {
    const std::string& name;
    PortState state = PortState::Open;

    void tell(std::ostream& err, PortState now) {
        if (now == state) {
            return;
        }
        if (now == PortState::Reopening && state == PortState::Open) {
            err << formatted(_("Lost %s; waiting for it."), name) << "\n";
        } else if (now == PortState::OtherDevice) {
            err << formatted(_("%s is another device now; waiting for the one it was."), name)
                << "\n";
        } else if (now == PortState::Open) {
            err << formatted(_("%s is back."), name) << "\n";
        }
        state = now;
    }
};

std::string signalName(int sig) {
    switch (sig) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return _("a signal");
    }
}

void tellPortFailure(std::ostream& err, const std::string& port,
                     const SerialPort::OpenError& error) {
    const std::string device = SerialPort::devicePath(port);
    const std::string reason =
        error.message.empty() ? std::string(_("unknown error")) : translated(error.message);
    err << formatted(_("cannot open %s: %s%s"), device.empty() ? port : device, reason,
                     std::string(openFailureHint(error.code)))
        << "\n";
}

// Where the shared keyboards and mouse go, in the user's language: "Keyboard
// and mouse: X68000 (Scroll Lock twice to return)." / "... this computer.".
std::string sideSentence(ShareSwitch::Side side, const std::string& switchKey) {
    return side == ShareSwitch::Side::X68000
               ? formatted(_("Keyboard and mouse: X68000 (%s twice to return)."), switchKey)
               : std::string(_("Keyboard and mouse: this computer."));
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
                    const WaitForEvent& waitForEvent, const SessionDevices& devices) {
    const std::vector<std::string>& inputDevices = devices.keyboards;
    const SessionMouse& mouse = devices.mouse;
    const bool shared = !devices.switchKey.empty();
    // A port that cannot be had ends the run before the keyboard is taken
    // from the console (under a service's Restart=, every few seconds).
    if (const SerialPort::OpenError error = relay.checkPort(port); error.code != 0) {
        tellPortFailure(err, port, error);
        return kExitFailure;
    }
    const bool hasMouse = !mouse.device.empty();
    if (hasMouse) {
        if (const auto error = relay.checkPort(mouse.port, LineSettings::mouseLine());
            error.code != 0) {
            tellPortFailure(err, mouse.port, error);
            return kExitFailure;
        }
    }
    std::vector<KeyboardWords> keyboards;
    const bool several = inputDevices.size() > 1 || (shared && !inputDevices.empty());
    for (const std::string& device : inputDevices) {
        keyboards.push_back({device, several});
    }
    if (inputDevices.empty() || shared) {
        keyboards.push_back({"", several, shared && !inputDevices.empty()});
    }
    // The relay's status of keyboard i; one it does not tell of is absent.
    const auto keyboardIn = [](const RelayStatus& s, std::size_t i) {
        return i < s.keyboards.size() ? s.keyboards[i] : KeyboardStatus{};
    };
    // The first keyboard whose refusal ends the run, if any (had: which have
    // been open since the start; a refusal after that is waited out).
    const auto endingRefusal = [&](const RelayStatus& s, const std::vector<bool>& had) {
        for (std::size_t i = 0; i < keyboards.size(); ++i) {
            if (!had[i] && keyboards[i].endsTheRun(keyboardIn(s, i))) {
                err << keyboards[i].failed() << "\n"
                    << keyboards[i].advice(keyboardIn(s, i)) << "\n";
                return true;
            }
        }
        return false;
    };

    relay.openKeyboard();
    RelayStatus status = relay.status();
    std::vector<bool> hadKeyboard(keyboards.size(), false);
    if (endingRefusal(status, hadKeyboard)) {
        return shutDown(relay, kExitFailure);
    }
    // A mouse refused at start for anything but another program's hold is a
    // mouse that this command cannot relay as given: said at once.
    MouseStatus mouseNow = status.mouse.value_or(MouseStatus{});
    if (hasMouse && mouseNow.device == KeyboardState::Refused &&
        mouseNow.failure != KeyboardConnection::Failure::Busy) {
        err << formatted(_("Failed to open the mouse %s."), mouse.device) << "\n"
            << adviceFor(mouseNow.failure, reasonFor(mouseNow.failure, mouseNow.failureText), true)
            << "\n";
        return shutDown(relay, kExitFailure);
    }
    std::vector<DeviceShown> shownKeyboards;
    for (std::size_t i = 0; i < keyboards.size(); ++i) {
        const KeyboardStatus now = keyboardIn(status, i);
        hadKeyboard[i] = now.state == KeyboardState::Connected;
        // The X68000 Z keyboard beside shared ones is told of when it is there.
        const bool told = hadKeyboard[i] && !keyboards[i].extra;
        DeviceShown& shown = shownKeyboards.emplace_back(
            DeviceShown{keyboards[i].noun(), told ? now.state : KeyboardState::Absent, ""});
        if (now.state == KeyboardState::Refused) {
            shown.tell(err, now.state, keyboards[i].refusal(now));
        } else if (!hadKeyboard[i] && !keyboards[i].extra) {
            err << keyboards[i].waiting() << "\n";
        }
    }
    DeviceShown shownMouse{_("Mouse"), KeyboardState::Connected, ""};
    if (hasMouse && mouseNow.device != KeyboardState::Connected) {
        shownMouse.state = KeyboardState::Absent;
        if (mouseNow.device == KeyboardState::Refused) {
            shownMouse.tell(err, mouseNow.device,
                            reasonFor(mouseNow.failure, mouseNow.failureText));
        } else {
            err << formatted(_("Waiting for the mouse %s..."), mouse.device) << "\n";
        }
    }

    const std::string device = SerialPort::devicePath(port);
    relay.start(port);
    // The worker opens the ports itself; wait for its verdict.
    status = relay.status();
    while (status.port == PortState::Opening || status.port == PortState::Idle) {
        if (const int sig = waitForEvent()) {
            err << formatted(_("Stopped by %s."), signalName(sig)) << "\n";
            return shutDown(relay, kExitOk);
        }
        status = relay.status();
    }
    if (status.port == PortState::Failed) {  // taken meanwhile
        tellPortFailure(err, port, status.portError);
        return shutDown(relay, kExitFailure);
    }
    if (hasMouse && status.mouse && status.mouse->port == PortState::Failed) {
        tellPortFailure(err, mouse.port, status.mouse->portError);
        return shutDown(relay, kExitFailure);
    }
    err << formatted(_("Relaying %s to %s."), relayedWords(inputDevices), device) << "\n";
    if (hasMouse) {
        err << formatted(_("Relaying the mouse %s to %s."), mouse.device,
                         SerialPort::devicePath(mouse.port))
            << "\n";
    }
    std::optional<ShareSwitch::Side> shownSide;

    PortShown shownPort{port};
    PortShown shownMousePort{mouse.port};
    for (;;) {
        // Plugged in at last, but not ours to open: as at start.
        if (endingRefusal(status, hadKeyboard)) {
            return shutDown(relay, kExitFailure);
        }
        for (std::size_t i = 0; i < keyboards.size(); ++i) {
            const KeyboardStatus now = keyboardIn(status, i);
            hadKeyboard[i] = hadKeyboard[i] || now.state == KeyboardState::Connected;
            shownKeyboards[i].tell(
                err, now.state,
                now.state == KeyboardState::Refused ? keyboards[i].refusal(now) : "");
        }
        shownPort.tell(err, status.port);
        if (shared && status.share && status.share != shownSide) {
            shownSide = status.share;
            err << sideSentence(*status.share, devices.switchKey) << "\n";
        }
        if (hasMouse && status.mouse) {
            const MouseStatus& m = *status.mouse;
            shownMouse.tell(err, m.device, reasonFor(m.failure, m.failureText));
            shownMousePort.tell(err, m.port);
        }
        if (const int sig = waitForEvent()) {
            err << formatted(_("Stopped by %s."), signalName(sig)) << "\n";
            return shutDown(relay, kExitOk);
        }
        status = relay.status();
    }
}
