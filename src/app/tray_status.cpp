#include "app/tray_status.h"

namespace {

bool keyboardWorks(const RelayStatus& status) {
    return status.keyboard().state == KeyboardState::Connected;
}

// Where the keys go: the port, or the X68000 when none is known.
std::string destination(const std::string& port) {
    return port.empty() ? std::string("the X68000") : port;
}

// A reason as a sentence of its own: the system's messages mostly end in a
// full stop already, libusb's names and the fallbacks do not.
std::string sentence(std::string text) {
    if (!text.empty() && text.back() != '.') {
        text += '.';
    }
    return text;
}

// A reason inside a sentence, in parentheses.
std::string withoutFullStop(std::string text) {
    while (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

std::string portReason(const SerialPort::OpenError& error) {
    if (!error.message.empty()) {
        return error.message;
    }
    return error.code != 0 ? "error " + std::to_string(error.code) : std::string();
}

// Why the keyboard is refused, in Windows' terms. libusb's "access denied"
// comes from WinUSB, which lets one program at a time open a device, or from
// an interface whose driver is Windows' own keyboard driver, not WinUSB
// (windows_winusb.c: winusbx_open, hid_open): which of the two, neither says.
// The Windows program relays only the X68000 Z keyboard, so an error that is
// neither is libusb's.
std::string windowsRefusalReason(const RelayStatus& status) {
    switch (status.keyboard().failure) {
        case KeyboardConnection::Failure::NoPermission:
            return "another program holds it, or its driver is not WinUSB";
        case KeyboardConnection::Failure::Busy:
            return refusalReason(status.keyboard());
        default:
            return "libusb says " + refusalReason(status.keyboard());
    }
}

TrayNotice keyboardNotice(const RelayStatus& status, const std::string& port, bool seenBefore) {
    if (keyboardWorks(status)) {
        if (!seenBefore) {
            return {"Keyboard connected",
                    "The X68000 Z keyboard is connected: keys go to " + destination(port) + ".",
                    false};
        }
        return {"Keyboard connected",
                "The X68000 Z keyboard is back: keys go to " + destination(port) + " again.",
                false};
    }
    if (status.keyboard().state == KeyboardState::Refused) {
        return {"Keyboard not usable",
                "The X68000 Z keyboard could not be opened: " + windowsRefusalReason(status) +
                    ". Keys reach " + destination(port) + " again once it can be.",
                true};
    }
    return {"Keyboard disconnected",
            "The X68000 Z keyboard was unplugged. Keys reach " + destination(port) +
                " again as soon as it is back.",
            true};
}

TrayNotice portNotice(const RelayStatus& status, const std::string& port) {
    const std::string reason = portReason(status.portError);
    switch (status.port) {
        case PortState::Reopening:
            return {port + " lost",
                    port + " went away (" +
                        (reason.empty() ? "the device was removed or the line hung up"
                                        : withoutFullStop(reason)) +
                        "). Keys reach the X68000 again as soon as it is back.",
                    true};
        case PortState::Failed:
            return {port + " could not be opened",
                    port + " could not be opened: " +
                        sentence(reason.empty() ? "the system gave no reason" : reason) +
                        " Choose it again with \"Select COM Port\" to retry, or choose another.",
                    true};
        case PortState::OtherDevice:
            return {port + " is another device now",
                    port +
                        " is now the name of another USB device than the one Pellora "
                        "opened, so it is left alone. Keys reach the X68000 again when that "
                        "adapter is back.",
                    true};
        default:
            return {port + " is back", port + " is open again: keys reach the X68000.", false};
    }
}

}  // namespace

std::string trayTip(const RelayStatus& status, const std::string& port, bool portsPresent,
                    bool portAwaited, const std::string& shareSentence) {
    if (status.share) {
        // The X68000 Z keyboard is a guest: only its troubles are news.
        RelayStatus alone = status;
        alone.share.reset();
        if (alone.keyboard().state == KeyboardState::Absent) {
            alone.keyboard().state = KeyboardState::Connected;
        }
        return trayTip(alone, port, portsPresent, portAwaited) + "\n" + shareSentence;
    }
    const bool keyboardAbsent = status.keyboard().state == KeyboardState::Absent;
    if (port.empty() && !portsPresent) {
        return keyboardAbsent ? "Pellora - COM port not found. Waiting for the keyboard."
                              : "Pellora - COM port not found.";
    }
    if (port.empty()) {
        return keyboardAbsent ? "Pellora - waiting for the keyboard" : "Pellora - no port selected";
    }
    std::string tip = "Pellora - " + port;
    if (portAwaited) {
        tip = "Pellora - Waiting for " + port;
    } else if (status.port == PortState::Reopening) {
        tip += " lost, waiting";
    } else if (status.port == PortState::Failed) {
        tip += " could not be opened";
    } else if (status.port == PortState::OtherDevice) {
        tip += " is another device now, waiting";
    }
    if (keyboardAbsent) {
        tip += " - waiting for the keyboard";
    } else if (status.keyboard().state == KeyboardState::Refused) {
        tip += " - keyboard not usable";
    }
    return tip;
}

std::string keyboardFailureAdvice(const RelayStatus& status) {
    const std::string driver =
        "give both of its interfaces the WinUSB driver, as README-Windows.txt tells.";
    switch (status.keyboard().failure) {
        case KeyboardConnection::Failure::NoPermission:
            return "Another program holds it, or its driver is not WinUSB: close that program, "
                   "or " +
                   driver;
        case KeyboardConnection::Failure::Busy:
            return "Another program holds it: close that program, then start Pellora again.";
        default:
            return windowsRefusalReason(status) + ": " + driver;
    }
}

TrayNotice callFailureNotice(const std::string& port, const std::string& reason) {
    const std::string why = sentence(reason.empty() ? "the system gave no reason" : reason);
    if (port.empty()) {
        return {"Pellora could not do that", "The relay could not do what was asked: " + why, true};
    }
    return {port + " not started",
            "Relaying to " + port + " could not start: " + why +
                " Choose it again with \"Select COM Port\" to retry.",
            true};
}

TrayNotice portArrivedNotice(const std::string& port) {
    return {port + " found", port + " is there now: Pellora relays the keyboard to it.", false};
}

std::optional<TrayNotice> sharedKeyboardRefusedNotice(const RelayStatus& status) {
    if (!status.share || status.keyboards.size() < 2 ||
        status.keyboards[1].state != KeyboardState::Refused) {
        return std::nullopt;
    }
    return TrayNotice{"Keyboard not shared",
                      "This computer's keyboard and mouse cannot be shared with the X68000: " +
                          sentence(refusalReason(status.keyboards[1])),
                      true};
}

void TroubleWatch::assume(const RelayStatus& status) {
    update(status, {});
}

std::optional<TrayNotice> TroubleWatch::update(const RelayStatus& status, const std::string& port) {
    std::optional<TrayNotice> notice;
    const auto tell = [&](const TrayNotice& next) {
        if (!notice) {
            notice = next;
            return;
        }
        notice->text += "\n" + next.text;
        notice->trouble = notice->trouble || next.trouble;
    };

    // Shared, an X68000 Z keyboard that is not there is news only once it was.
    const bool keyboardNowDown = !keyboardWorks(status);
    if (keyboardNowDown != keyboardDown && (!status.share || keyboardSeen || !keyboardNowDown)) {
        tell(keyboardNotice(status, port, keyboardSeen));
    }
    keyboardDown = keyboardNowDown;
    keyboardSeen = keyboardSeen || !keyboardNowDown;

    const bool sharedNow =
        status.keyboards.size() > 1 && status.keyboards[1].state == KeyboardState::Connected;
    if (status.share && sharedConnected && !sharedNow) {
        tell({"Keyboard and mouse: this computer",
              "Pellora's hook stopped seeing this computer's keys (Windows took it away, or a "
              "program run as administrator has them), so the keyboard and mouse are this "
              "computer's again. Pellora takes the hook again.",
              true});
    }
    sharedConnected = sharedNow;

    if (status.port == PortState::Idle || status.port == PortState::Opening) {
        portTrouble = PortTrouble::None;  // the user chose: nothing was lost or has returned
    } else {
        const PortTrouble now = status.port == PortState::Open          ? PortTrouble::None
                                : status.port == PortState::OtherDevice ? PortTrouble::OtherDevice
                                                                        : PortTrouble::Down;
        // The other device going away again leaves the port as lost as it was.
        const bool otherDeviceLeft =
            portTrouble == PortTrouble::OtherDevice && now == PortTrouble::Down;
        if (now != portTrouble && !otherDeviceLeft) {
            tell(portNotice(status, port));
        }
        portTrouble = now;
    }
    return notice;
}
