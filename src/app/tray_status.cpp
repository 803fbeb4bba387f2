#include "app/tray_status.h"

#include <string_view>

#include "app/resource.h"
#include "app/ui_text.h"

namespace {

bool keyboardWorks(const RelayStatus& status) {
    return status.keyboard().state == KeyboardState::Connected;
}

// Where the keys go: the port, or the X68000 when none is known.
std::string destination(const std::string& port) {
    return port.empty() ? uiText(IDS_THE_X68000) : port;
}

// The full stops a reason may end in, "." and the Japanese "。" (UTF-8): the
// system's messages mostly end in one already, libusb's names and the
// fallbacks do not.
constexpr std::string_view kFullStops[] = {".", "\xE3\x80\x82"};

bool endsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A reason as a sentence of its own.
std::string sentence(const std::string& text) {
    for (const std::string_view stop : kFullStops) {
        if (endsWith(text, stop)) {
            return text;
        }
    }
    return text.empty() ? text : uiText(IDS_SENTENCE, {text});
}

// A reason inside a sentence, in parentheses.
std::string withoutFullStop(std::string text) {
    for (bool cut = true; cut;) {
        cut = false;
        for (const std::string_view stop : kFullStops) {
            if (endsWith(text, stop)) {
                text.resize(text.size() - stop.size());
                cut = true;
            }
        }
    }
    return text;
}

std::string portReason(const SerialPort::OpenError& error) {
    if (!error.message.empty()) {
        return error.message;
    }
    return error.code != 0 ? uiText(IDS_REASON_ERROR_CODE, {std::to_string(error.code)})
                           : std::string();
}

// refusalReason() in the program's language: the back-end's own words (a
// system message, libusb's name of an error) stay as they are.
std::string refusalWords(const KeyboardStatus& keyboard) {
    switch (keyboard.failure) {
        case KeyboardConnection::Failure::NoPermission:
            return uiText(IDS_REASON_NO_PERMISSION);
        case KeyboardConnection::Failure::Busy:
            return uiText(IDS_REASON_BUSY);
        default:
            return keyboard.failureText.empty() ? uiText(IDS_REASON_FAILED) : keyboard.failureText;
    }
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
            return uiText(IDS_REASON_NOT_WINUSB);
        case KeyboardConnection::Failure::Busy:
            return refusalWords(status.keyboard());
        default:
            return uiText(IDS_REASON_LIBUSB, {refusalWords(status.keyboard())});
    }
}

TrayNotice keyboardNotice(const RelayStatus& status, const std::string& port, bool seenBefore) {
    if (keyboardWorks(status)) {
        return {
            uiText(IDS_KEYBOARD_CONNECTED_TITLE),
            uiText(seenBefore ? IDS_KEYBOARD_BACK : IDS_KEYBOARD_CONNECTED, {destination(port)}),
            false};
    }
    if (status.keyboard().state == KeyboardState::Refused) {
        return {uiText(IDS_KEYBOARD_REFUSED_TITLE),
                uiText(IDS_KEYBOARD_REFUSED, {windowsRefusalReason(status), destination(port)}),
                true};
    }
    return {uiText(IDS_KEYBOARD_UNPLUGGED_TITLE),
            uiText(IDS_KEYBOARD_UNPLUGGED, {destination(port)}), true};
}

TrayNotice portNotice(const RelayStatus& status, const std::string& port) {
    const std::string reason = portReason(status.portError);
    switch (status.port) {
        case PortState::Reopening:
            return {uiText(IDS_PORT_LOST_TITLE, {port}),
                    uiText(IDS_PORT_LOST, {port, reason.empty() ? uiText(IDS_REASON_PORT_GONE)
                                                                : withoutFullStop(reason)}),
                    true};
        case PortState::Failed:
            return {uiText(IDS_PORT_FAILED_TITLE, {port}),
                    uiText(IDS_PORT_FAILED,
                           {port, sentence(reason.empty() ? uiText(IDS_REASON_NONE) : reason)}),
                    true};
        case PortState::OtherDevice:
            return {uiText(IDS_PORT_OTHER_DEVICE_TITLE, {port}),
                    uiText(IDS_PORT_OTHER_DEVICE, {port}), true};
        default:
            return {uiText(IDS_PORT_BACK_TITLE, {port}), uiText(IDS_PORT_BACK, {port}), false};
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
        return uiText(keyboardAbsent ? IDS_TIP_NO_PORTS_NO_KEYBOARD : IDS_TIP_NO_PORTS);
    }
    if (port.empty()) {
        return uiText(keyboardAbsent ? IDS_TIP_NO_KEYBOARD : IDS_TIP_NO_PORT);
    }
    unsigned portTip = IDS_TIP_PORT;
    if (portAwaited) {
        portTip = IDS_TIP_PORT_AWAITED;
    } else if (status.port == PortState::Reopening) {
        portTip = IDS_TIP_PORT_LOST;
    } else if (status.port == PortState::Failed) {
        portTip = IDS_TIP_PORT_FAILED;
    } else if (status.port == PortState::OtherDevice) {
        portTip = IDS_TIP_PORT_OTHER_DEVICE;
    }
    const std::string tip = uiText(portTip, {port});
    if (keyboardAbsent) {
        return uiText(IDS_TIP_KEYBOARD_ABSENT, {tip});
    }
    if (status.keyboard().state == KeyboardState::Refused) {
        return uiText(IDS_TIP_KEYBOARD_REFUSED, {tip});
    }
    return tip;
}

std::string shareLine(ShareSwitch::Side side, const std::string& keyName) {
    return side == ShareSwitch::Side::X68000 ? uiText(IDS_SHARE_X68000, {keyName})
                                             : uiText(IDS_SHARE_COMPUTER);
}

std::string keyboardFailureAdvice(const RelayStatus& status) {
    switch (status.keyboard().failure) {
        case KeyboardConnection::Failure::NoPermission:
            return uiText(IDS_ADVICE_NOT_WINUSB);
        case KeyboardConnection::Failure::Busy:
            return uiText(IDS_ADVICE_BUSY);
        default:
            return uiText(IDS_ADVICE_DRIVER, {windowsRefusalReason(status)});
    }
}

TrayNotice callFailureNotice(const std::string& port, const std::string& reason) {
    const std::string why = sentence(reason.empty() ? uiText(IDS_REASON_NONE) : reason);
    if (port.empty()) {
        return {uiText(IDS_CALL_FAILED_TITLE), uiText(IDS_CALL_FAILED, {why}), true};
    }
    return {uiText(IDS_START_FAILED_TITLE, {port}), uiText(IDS_START_FAILED, {port, why}), true};
}

TrayNotice portArrivedNotice(const std::string& port) {
    return {uiText(IDS_PORT_ARRIVED_TITLE, {port}), uiText(IDS_PORT_ARRIVED, {port}), false};
}

std::optional<TrayNotice> sharedKeyboardRefusedNotice(const RelayStatus& status) {
    if (!status.share || status.keyboards.size() < 2 ||
        status.keyboards[1].state != KeyboardState::Refused) {
        return std::nullopt;
    }
    return TrayNotice{uiText(IDS_SHARED_REFUSED_TITLE),
                      uiText(IDS_SHARED_REFUSED, {sentence(refusalWords(status.keyboards[1]))}),
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
        tell({uiText(IDS_HOOK_LOST_TITLE), uiText(IDS_HOOK_LOST), true});
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
